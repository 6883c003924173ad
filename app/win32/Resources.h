// Resource identifiers of the native desktop program.
#pragma once

#define IDI_QUORVIX 101
#define IDB_BANNER 201
#define IDB_POWER_REST 202
#define IDB_POWER_HOT 203
#define IDB_TOOLBAR_1 211
#define IDB_TOOLBAR_2 212
#define IDB_TOOLBAR_3 213
#define IDD_ABOUT 301
