#include "frmMain.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <optional>
#include <thread>

#include "Art.h"
#include "CoolBar.h"
#include "DomainBox.h"
#include "ImageButton.h"
#include "ReportModel.h"
#include "ResizeRules.h"
#include "ScanSummary.h"
#include "TerminalText.h"
#include "WindowTexts.h"
#include "frmAbout.h"

namespace quorvix {

namespace {

constexpr int Px(int twips) {
  return twips / kTwipsPerPixel;
}

QString ToQString(const std::u16string& s) {
  return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size()));
}

std::u16string ToU16(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                        static_cast<size_t>(s.size()));
}

// The frame and title bar the layout rules were drawn for (75 x 375 twips).
// Window managers draw frames of every size, or none; measured against this
// one the controls fit the client area the same way everywhere.
constexpr QSize kClassicFrame(Px(75), Px(375));

QLabel* MakePanel(QWidget* parent) {
  auto* panel = new QLabel(parent);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setMinimumWidth(Px(1440));
  panel->setContentsMargins(2, 0, 2, 0);
  return panel;
}

}  // namespace

frmMain::frmMain(NetApi& api, bool simulated, QWidget* parent)
    : QWidget(parent), api_(api), quit_([] { QCoreApplication::exit(0); }) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(ToQString(simulated ? kSimulatedTitle : kAppTitle16));
  setWindowIcon(WindowIcon());
  setFont(WindowFont());
  resize(Px(6780), Px(6690));

  // The rebar: band 1 holds the domain box and the start button, band 2 the toolbar.
  CoolBar1 = new CoolBar(this);
  CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
  CoolBar1->setGeometry(0, 0, Px(6735), Px(915));

  boxDomains = new QWidget;
  boxDomains->setObjectName(QStringLiteral("boxDomains"));
  boxDomains->resize(Px(6480), Px(495));
  comboDomains = new QComboBox(boxDomains);
  comboDomains->setObjectName(QStringLiteral("comboDomains"));
  comboDomains->setEditable(true);
  comboDomains->setInsertPolicy(QComboBox::NoInsert);
  comboDomains->setCompleter(nullptr);  // the text stays as typed
  comboDomains->setGeometry(0, Px(90), Px(6015), Px(315));
  asxPowerButton1 = new ImageButton(PowerButtonRestPicture(), PowerButtonHotPicture(), boxDomains);
  asxPowerButton1->setObjectName(QStringLiteral("asxPowerButton1"));
  asxPowerButton1->setToolTip(QString());
  asxPowerButton1->setAccessibleName(QStringLiteral("Start"));
  asxPowerButton1->move(Px(6120), Px(120));
  connect(asxPowerButton1, &QToolButton::clicked, this, &frmMain::asxPowerButton1_Click);
  CoolBar1->AddBand(boxDomains, QRect(Px(165), Px(30), Px(6480), Px(495)));

  ImageList1 = new QObject(this);
  ImageList1->setObjectName(QStringLiteral("ImageList1"));
  QVariantList images;
  for (int k = 1; k <= 3; ++k) images.append(ToolbarImage(k));
  ImageList1->setProperty("images", images);

  Toolbar1 = new QToolBar;
  Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
  Toolbar1->setMovable(false);
  Toolbar1->setFloatable(false);
  Toolbar1->setIconSize(QSize(16, 16));
  Toolbar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  Toolbar1->setContentsMargins(0, 0, 0, 0);
  Toolbar1->setStyleSheet(QStringLiteral("QToolBar { border: 0px; padding: 0px; spacing: 0px; }"));
  for (const ToolbarButtonText& b : kToolbarButtons) {
    const QString key = QString::fromUtf16(b.key);
    QAction* action = Toolbar1->addAction(QIcon(ToolbarImage(b.image)), key);
    action->setObjectName(key);
    action->setData(key);
    action->setToolTip(QString::fromUtf16(b.tip));
    if (QWidget* button = Toolbar1->widgetForAction(action)) {
      button->setObjectName(QStringLiteral("Toolbar1_") + key);
      button->setFixedSize(Px(840), Px(330));
    }
  }
  connect(Toolbar1, &QToolBar::actionTriggered, this, &frmMain::Toolbar1_ButtonClick);
  CoolBar1->AddBand(Toolbar1, QRect(Px(165), Px(555), Px(6480), Px(330)));

  model_ = new ReportModel(this);
  lvMain = new QTreeView(this);
  lvMain->setObjectName(QStringLiteral("lvMain"));
  lvMain->setModel(model_);
  lvMain->setRootIsDecorated(false);
  lvMain->setItemsExpandable(false);
  lvMain->setUniformRowHeights(true);
  lvMain->setSortingEnabled(false);  // the window orders the rows itself
  lvMain->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvMain->setSelectionMode(QAbstractItemView::SingleSelection);
  lvMain->setAllColumnsShowFocus(true);
  lvMain->setTextElideMode(Qt::ElideRight);
  lvMain->header()->setSortIndicatorShown(false);
  lvMain->header()->setSectionsClickable(true);
  lvMain->header()->setSectionsMovable(false);
  lvMain->header()->setStretchLastSection(false);
  lvMain->header()->setSectionResizeMode(QHeaderView::Interactive);
  lvMain->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lvMain->setGeometry(0, Px(960), Px(6735), Px(5415));
  connect(lvMain->header(), &QHeaderView::sectionClicked, this, &frmMain::lvMain_ColumnClick);

  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(true);
  panelStatus_ = MakePanel(StatusBar1);
  panelStatus_->setObjectName(QStringLiteral("StatusBar1_Panel1"));
  panelStatus_->setText(QString::fromUtf16(kStatusInitial));
  panelStatus_->setToolTip(QString::fromUtf16(kStatusPanelTip));
  panelStatus_->installEventFilter(this);
  panelDate_ = MakePanel(StatusBar1);
  panelDate_->setObjectName(QStringLiteral("StatusBar1_Panel2"));
  panelTime_ = MakePanel(StatusBar1);
  panelTime_->setObjectName(QStringLiteral("StatusBar1_Panel3"));
  StatusBar1->addWidget(panelStatus_, 1);
  StatusBar1->addPermanentWidget(panelDate_);
  StatusBar1->addPermanentWidget(panelTime_);
  clock_ = new QTimer(this);
  clock_->setInterval(1000);
  connect(clock_, &QTimer::timeout, this, &frmMain::UpdateClock);
  UpdateClock();
  clock_->start();
  DockStatusBar();

  // Escape stops a running scan: no further machine is asked.
  auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  stop->setObjectName(QStringLiteral("StopShortcut"));
  connect(stop, &QShortcut::activated, this, [this] {
    if (scanning_) stopRequested_ = true;
  });

  // Keyboard order: the list first, then the rebar's controls.
  setTabOrder(lvMain, comboDomains);
  setTabOrder(comboDomains, asxPowerButton1);
  setTabOrder(asxPowerButton1, Toolbar1);
}

frmMain::~frmMain() = default;

void frmMain::ShowWindow() {
  if (!loaded_) {
    Load();
    return;
  }
  show();
}

void frmMain::Load() {
  loaded_ = true;
  ApplyResizeRules();  // the list gets its final width before its columns

  // Centred by its outer size, frame and title bar included; the window
  // system has not framed the window yet, so the frame is the classic one.
  const QRect screenArea = screen() ? screen()->geometry() : QRect(0, 0, 1024, 768);
  const QSize outer = OuterSize();
  const WindowOrigin origin = CentredOrigin(screenArea.x(), screenArea.y(), screenArea.width(),
                                            screenArea.height(), outer.width(), outer.height());
  // move() places the frame's outer corner; the classic frame's left edge and
  // title bar then sit where the rule put them.
  move(origin.left, origin.top);

  SetStatusText(kStatusWorking);

  const int columnWidth = lvMain->width() / 4;
  for (int c = 0; c < model_->columnCount(); ++c) lvMain->setColumnWidth(c, columnWidth);

  model_->SetState(SortState{});  // sorted by "Username", ascending
  lvMain->setSelectionBehavior(QAbstractItemView::SelectRows);

  // The own domain, then the domains it sees. Asked on a thread of their
  // own: on a real network the directory behind them may take long to read
  // (a large domain, a distant controller), and the windows already shown
  // (the splash screen) stay serviced meanwhile.
  DomainList asked;
  auto ask = [&] { asked = AskDomains(api_); };
  QEventLoop asking;
  std::optional<std::thread> asker;
  try {
    asker.emplace([&] {
      ask();
      QMetaObject::invokeMethod(&asking, &QEventLoop::quit, Qt::QueuedConnection);
    });
  } catch (const std::exception&) {
    ask();  // no thread to be had: asked here
  }
  if (asker) {
    asking.exec(QEventLoop::ExcludeUserInputEvents);
    asker->join();
  }
  // Names from the network are shown with their hidden characters made
  // visible; the scan asks for the names themselves (DomainText).
  for (size_t i = 1; i < asked.domains.size(); ++i)
    comboDomains->addItem(ToQString(VisibleText(asked.domains[i])), ToQString(asked.domains[i]));
  comboDomains->setCurrentIndex(-1);
  ownDomain_ = asked.own;
  comboDomains->setEditText(ToQString(VisibleText(ownDomain_)));

  show();
  lvMain->setFocus();
  SetStatusText(kStatusDone);
}

QSize frmMain::OuterSize() const {
  return size() + kClassicFrame;
}

void frmMain::ApplyResizeRules() {
  const QSize outer = OuterSize();
  for (const LayoutAssignment& a :
       ResizeRules(outer.width() * kTwipsPerPixel, outer.height() * kTwipsPerPixel)) {
    const int px = a.twips / kTwipsPerPixel;
    switch (a.property) {
      case LayoutProperty::ListWidth:
        lvMain->resize(px, lvMain->height());
        break;
      case LayoutProperty::ListHeight:
        lvMain->resize(lvMain->width(), px);
        break;
      case LayoutProperty::StatusBarWidth:
        break;  // docked: the status bar always spans the client area
      case LayoutProperty::CoolBarWidth:
        CoolBar1->resize(px, CoolBar1->height());
        break;
      case LayoutProperty::PowerButtonLeft:
        asxPowerButton1->move(px, asxPowerButton1->y());
        break;
      case LayoutProperty::ComboWidth:
        comboDomains->resize(px, comboDomains->height());
        break;
    }
  }
}

void frmMain::DockStatusBar() {
  const int h = Px(255);
  StatusBar1->setGeometry(0, height() - h, width(), h);
}

void frmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  DockStatusBar();
  ApplyResizeRules();
}

void frmMain::closeEvent(QCloseEvent* event) {
  // Closing the window ends the program; a running scan stops at its next yield.
  ending_ = true;
  event->accept();
}

void frmMain::UpdateClock() {
  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  panelDate_->setText(locale.toString(now.date(), QLocale::ShortFormat));
  panelTime_->setText(locale.toString(now.time(), QLocale::ShortFormat));
}

void frmMain::asxPowerButton1_Click() {
  // A press during a running scan's yield is not a second scan.
  if (scanning_ || ending_) return;
  scanning_ = true;
  stopRequested_ = false;
  serviced_.invalidate();  // the first row is shown at once
  lastOutcome_ = RunAuditScan(api_, *this, settings_);
  scanning_ = false;
  if (lastOutcome_ == ScanOutcome::Abandoned) {
    pending_.clear();  // the program is ending: no further rows
    return;
  }
  FlushRows();
}

void frmMain::Toolbar1_ButtonClick(QAction* button) {
  if (button == nullptr) return;
  const QString key = button->data().toString();
  if (key == QLatin1String("Exit")) {
    ending_ = true;
    quit_();
  } else if (key == QLatin1String("About")) {
    frmAbout about(this);
    about.exec();
  }
}

void frmMain::lvMain_ColumnClick(int section) {
  SortState state = model_->State();
  OnColumnClick(state, section + 1);
  model_->SetState(state);
}

void frmMain::SetStatusText(const std::u16string& text) {
  panelStatus_->setText(ToQString(text));
}

void frmMain::ClearRows() {
  pending_.clear();
  model_->Clear();
}

void frmMain::AppendRow(const ReportRow& row) {
  if (ending_) return;
  pending_.push_back(row);
}

void frmMain::FlushRows() {
  if (pending_.empty()) return;
  std::vector<ReportRow> rows;
  rows.swap(pending_);
  model_->Append(std::move(rows));
}

void frmMain::SetMousePointer(MousePointer pointer) {
  if (pointer == MousePointer::Hourglass)
    setCursor(Qt::WaitCursor);
  else
    unsetCursor();
}

std::u16string frmMain::DomainText() {
  const int picked = comboDomains->currentIndex();
  const std::u16string name = picked >= 0 ? ToU16(comboDomains->itemData(picked).toString()) : u"";
  return DomainNamed(ToU16(comboDomains->currentText()), picked >= 0 ? &name : nullptr, ownDomain_);
}

void frmMain::ShowMessage(const std::u16string& text) {
  // The box shows the text up to its first NUL.
  const QString shown = ToQString(text.substr(0, text.find(u'\0')));
  if (message_) {
    message_(shown);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), shown, QMessageBox::Ok,
                  this);
  box.setFont(WindowFont());
  box.exec();
}

void frmMain::SetMachineOutcomes(const std::vector<MachineOutcome>& outcomes) {
  outcomes_ = outcomes;
  const bool anyMissing = !UnaskedMachinesText(outcomes_).empty();
  panelStatus_->setToolTip(
      QString::fromUtf16(anyMissing ? kStatusPanelMachinesTip : kStatusPanelTip));
  // An open list follows the last scan; with nothing left to list it closes.
  if (machines_) {
    if (anyMissing)
      ShowMachinesWindow();
    else
      machines_->close();
  }
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == panelStatus_ && event->type() == QEvent::MouseButtonDblClick) {
    ShowMachinesWindow();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

QWidget* frmMain::ShowMachinesWindow() {
  const QString text = ToQString(UnaskedMachinesText(outcomes_));
  if (text.isEmpty()) return nullptr;
  if (machines_) {
    machines_->findChild<QPlainTextEdit*>()->setPlainText(text);
    machines_->raise();
    return machines_;
  }
  auto* dialog = new QDialog(this);
  machines_ = dialog;
  dialog->setObjectName(QStringLiteral("frmMachines"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(QString::fromUtf16(kMachinesTitle));
  auto* layout = new QVBoxLayout(dialog);
  auto* list = new QPlainTextEdit(dialog);
  list->setObjectName(QStringLiteral("txtMachines"));
  list->setReadOnly(true);
  list->setLineWrapMode(QPlainTextEdit::NoWrap);
  list->setPlainText(text);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* copy =
      buttons->addButton(QString::fromUtf16(kMachinesCopy), QDialogButtonBox::ActionRole);
  copy->setObjectName(QStringLiteral("cmdCopy"));
  QPushButton* close =
      buttons->addButton(QString::fromUtf16(kMachinesClose), QDialogButtonBox::RejectRole);
  close->setDefault(true);
  connect(copy, &QPushButton::clicked, dialog,
          [list] { QGuiApplication::clipboard()->setText(list->toPlainText()); });
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  layout->addWidget(buttons);
  dialog->resize(Px(7200), Px(3600));
  dialog->show();
  return dialog;
}

bool frmMain::DoEvents() {
  if (ending_) return false;
  // Rows stream in far faster than the screen can show them: the window is
  // serviced (rows handed to the list, input and painting) about once a
  // frame, or sooner when so many rows wait that placing them would hold up
  // the next service.
  if (serviced_.isValid() && serviced_.elapsed() < kServiceIntervalMs &&
      pending_.size() < kMaxPendingRows)
    return true;
  FlushRows();
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  serviced_.start();
  return !ending_;
}

}  // namespace quorvix
