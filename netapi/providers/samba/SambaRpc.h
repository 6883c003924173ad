// Samba's RPC headers as C++ sees them, and the settings and credentials of
// the provider's RPC connections.
#pragma once

#include <cstdbool>
#include <cstdint>

extern "C" {
// credentials.h names these enums before declaring them, which C++ refuses.
#ifdef __clang__
// clang takes neither an opaque declaration before credentials.h's plain one
// nor the plain one alone; after a complete enum it takes it as an extension.
enum smb_signing_setting { kQuorvixSmbSigningUnnamed = -1 };
enum smb_encryption_setting { kQuorvixSmbEncryptionUnnamed = -1 };
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wgnu-redeclared-enum"
#else
enum smb_signing_setting : int;
enum smb_encryption_setting : int;
#endif
#include <core/ntstatus.h>
#include <core/werror.h>
#include <credentials.h>
#ifdef __clang__
#pragma clang diagnostic pop
#endif
#include <dcerpc.h>
#include <talloc.h>
#include <tevent.h>

// From Samba's public param.h, whose own includes are not installed.
struct loadparm_context* loadparm_init_global(bool load_default);
struct loadparm_context* loadparm_init(TALLOC_CTX* mem_ctx);
bool lpcfg_load(struct loadparm_context* lp_ctx, const char* filename);
bool lpcfg_load_no_global(struct loadparm_context* lp_ctx, const char* filename);
bool lpcfg_set_cmdline(struct loadparm_context* lp_ctx, const char* name, const char* value);
const char* lpcfg_workgroup(struct loadparm_context* lp_ctx);
const char* lpcfg_netbios_name(struct loadparm_context* lp_ctx);
struct smb_iconv_handle* lpcfg_iconv_handle(struct loadparm_context* lp_ctx);
}

// ntstatus.h defines two platform names as NTSTATUS macros; the program's own
// constants of those names are meant wherever they appear.
#undef ERROR_INVALID_PARAMETER
#undef ERROR_INSUFFICIENT_BUFFER

#include "SambaSession.h"

namespace quorvix::samba {

// The RPC libraries' shared settings (created once, quiet). Created by the
// provider's constructor, while no other thread uses the libraries: loading
// settings resets the process-wide character-set conversions. Any thread may
// read them; connections are made with ConnectionSettings.
loadparm_context* RpcLoadparm();

// Credentials for one RPC connection, on mem (the caller's own talloc
// context; no lock needed).
cli_credentials* MakeRpcCredentials(TALLOC_CTX* mem, loadparm_context* lp,
                                    const SambaCredentials& creds);

}  // namespace quorvix::samba
