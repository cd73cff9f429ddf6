#include "ui/frmMain.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPalette>
#include <QShowEvent>
#include <limits>

#include "ui/AccessibleWindow.h"

#ifndef ZN7QX_MAKER_WEB
#define ZN7QX_MAKER_WEB "morvalent.example"
#endif
#ifndef ZN7QX_MAKER_PHONE
#define ZN7QX_MAKER_PHONE "Support: +1 555 0100"
#endif

namespace zn7qx {

namespace {

constexpr int kTwipsPerPixel = 15;

QRect Twips(int left, int top, int width, int height) {
  return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel};
}

// "MS Sans Serif" where present; Liberation Sans has nearly its metrics, so the
// header still fits on one line.
QFont WindowFont(qreal points, QFont::Weight weight) {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(points);
  font.setWeight(weight);
  return font;
}

void SetTextColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

void SetUpLabel(QLabel* label, const char* name, const QString& text, const QRect& geometry,
                Qt::Alignment horizontal = Qt::AlignLeft) {
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setGeometry(geometry);
  label->setAlignment(horizontal | Qt::AlignTop);
  label->setWordWrap(true);
  label->setFocusPolicy(Qt::NoFocus);
  label->setTextInteractionFlags(Qt::NoTextInteraction);
}

void SetUpOffScreen(QWidget* widget) {
  widget->setFocusPolicy(Qt::NoFocus);
  widget->setAttribute(Qt::WA_TransparentForMouseEvents);
  widget->hide();
}

}  // namespace

frmMain::frmMain(ScanSeams seams, QWidget* parent)
    : QWidget(parent),
      queue_(*lstIpToScan),
      units_(*lstIpZN7QX, QColor(0, 0, 255)),
      others_(*lstIpOther),
      controller_(*this, std::move(seams)) {
  InstallAccessibleWindow();
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Morvalent ZN7QX IP Address Finder"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);
  setFont(WindowFont(8.25, QFont::Normal));

  const QColor navy(0, 0, 128);
  SetUpLabel(Label4, "Label4", QStringLiteral("Morvalent ZN7QX IP Address Finder"), Twips(120, 0, 6615, 375));
  Label4->setFont(WindowFont(18, QFont::Normal));
  // Its one line is taller than the label, the room above the capitals
  // included: drawn from the bottom, the tail of the Q is not cut off.
  Label4->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
  SetTextColour(Label4, QPalette::WindowText, QColor(0, 0, 192));
  SetUpLabel(Label7, "Label7", QStringLiteral(ZN7QX_MAKER_WEB), Twips(120, 480, 1695, 255));
  SetTextColour(Label7, QPalette::WindowText, navy);
  SetUpLabel(Label8, "Label8", QStringLiteral(ZN7QX_MAKER_PHONE), Twips(2520, 480, 1455, 375), Qt::AlignHCenter);
  SetTextColour(Label8, QPalette::WindowText, navy);
  SetUpLabel(Label9, "Label9", QStringLiteral("Tool version July 24, 2007"), Twips(4440, 480, 2295, 255),
             Qt::AlignRight);
  SetTextColour(Label9, QPalette::WindowText, navy);

  SetUpLabel(Label1, "Label1", QStringLiteral("Start Address:"), Twips(120, 960, 1335, 255));
  txtIpAddrStart->setObjectName(QStringLiteral("txtIpAddrStart"));
  txtIpAddrStart->setGeometry(Twips(1200, 930, 1695, 285));
  txtIpAddrStart->setText(QStringLiteral("192.168.1.1"));
  SetUpLabel(Label2, "Label2", QStringLiteral("End Address:"), Twips(3600, 960, 1215, 255));
  txtIpAddrEnd->setObjectName(QStringLiteral("txtIpAddrEnd"));
  txtIpAddrEnd->setGeometry(Twips(4920, 930, 1695, 285));
  txtIpAddrEnd->setText(QStringLiteral("192.168.1.254"));
  for (QLineEdit* box : {txtIpAddrStart, txtIpAddrEnd}) {
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    box->raise();
  }

  cmdDefaultRange->setObjectName(QStringLiteral("cmdDefaultRange"));
  cmdDefaultRange->setText(QStringLiteral("Default Range"));
  cmdDefaultRange->setGeometry(Twips(120, 1320, 1335, 375));
  cmdBeginScan->setObjectName(QStringLiteral("cmdBeginScan"));
  cmdBeginScan->setText(QStringLiteral("Begin Scan"));
  cmdBeginScan->setGeometry(Twips(3240, 1320, 1575, 375));
  cmdCancelScan->setObjectName(QStringLiteral("cmdCancelScan"));
  cmdCancelScan->setText(QStringLiteral("Cancel Scan"));
  cmdCancelScan->setGeometry(Twips(4920, 1320, 1695, 375));
  for (QPushButton* button : {cmdDefaultRange, cmdBeginScan, cmdCancelScan}) {
    // Enter and Esc are dispatched by the window itself (see HandleKey).
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
  }

  SetUpLabel(Label6, "Label6", QStringLiteral("ZN7QX Devices"), Twips(120, 1920, 2655, 255));
  SetUpLabel(lblLastError, "lblLastError", QString(), Twips(6540, 1920, 75, 195), Qt::AlignRight);
  lblLastError->setWordWrap(false);
  lblLastError->setFont(WindowFont(8.25, QFont::Bold));
  SetTextColour(lblLastError, QPalette::WindowText, QColor(128, 0, 0));

  lstIpZN7QX->setObjectName(QStringLiteral("lstIpZN7QX"));
  lstIpZN7QX->setGeometry(Twips(120, 2160, 6495, 2400));
  lstIpZN7QX->setSelectionMode(QAbstractItemView::SingleSelection);
  lstIpZN7QX->setSortingEnabled(false);
  lstIpZN7QX->setFocusPolicy(Qt::StrongFocus);
  lstIpZN7QX->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  lstIpZN7QX->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  SetTextColour(lstIpZN7QX, QPalette::Text, QColor(0, 0, 255));

  SetUpLabel(lblStatus, "lblStatus", QStringLiteral("Waiting to begin scan..."), Twips(120, 4680, 5295, 375));

  SetUpLabel(Label3, "Label3", QStringLiteral("IP Addersses To Scan"), Twips(6960, 360, 2535, 255));
  lstIpToScan->setObjectName(QStringLiteral("lstIpToScan"));
  lstIpToScan->setGeometry(Twips(6960, 720, 3255, 3765));
  SetUpLabel(Label5, "Label5", QStringLiteral("Other Devices / Computers"), Twips(10200, 480, 2175, 255));
  lstIpOther->setObjectName(QStringLiteral("lstIpOther"));
  lstIpOther->setGeometry(Twips(10200, 720, 2175, 2400));
  for (QWidget* hidden : std::initializer_list<QWidget*>{Label3, lstIpToScan, Label5, lstIpOther}) {
    SetUpOffScreen(hidden);
  }

  setTabOrder(txtIpAddrStart, txtIpAddrEnd);
  setTabOrder(txtIpAddrEnd, cmdDefaultRange);
  setTabOrder(cmdDefaultRange, cmdBeginScan);
  setTabOrder(cmdBeginScan, cmdCancelScan);
  setTabOrder(cmdCancelScan, lstIpZN7QX);
  for (QWidget* focusable :
       std::initializer_list<QWidget*>{txtIpAddrStart, txtIpAddrEnd, cmdDefaultRange, cmdBeginScan, cmdCancelScan,
                                       lstIpZN7QX}) {
    focusable->installEventFilter(this);
  }
  txtIpAddrStart->setFocus(Qt::OtherFocusReason);

  connect(cmdBeginScan, &QPushButton::clicked, this, [this] { Command(&ScanController::BeginScan); });
  connect(cmdCancelScan, &QPushButton::clicked, this, [this] { Command(&ScanController::CancelScan); });
  connect(cmdDefaultRange, &QPushButton::clicked, this, [this] { Command(&ScanController::SetDefaultRange); });

  for (int i = 0; i < kTimerCount; ++i) {
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("tmrPing%1").arg(i));
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(i == 0 ? 100 : 200);
    connect(timer, &QTimer::timeout, this, [this, i] { OnTimerTick(i); });
    tmrPing[static_cast<std::size_t>(i)] = timer;
  }
  tmrPing[0]->start();
}

frmMain::~frmMain() { controller_.OnClose(); }

std::string frmMain::StartText() const { return txtIpAddrStart->text().toStdString(); }

void frmMain::SetStartText(const std::string& text) { txtIpAddrStart->setText(QString::fromStdString(text)); }

std::string frmMain::EndText() const { return txtIpAddrEnd->text().toStdString(); }

void frmMain::SetEndText(const std::string& text) { txtIpAddrEnd->setText(QString::fromStdString(text)); }

void frmMain::SetStatusText(const std::string& text) { lblStatus->setText(VisibleText(text)); }

void frmMain::SetLastErrorText(const std::string& text) {
  const QString shown = VisibleText(text);
  lblLastError->setText(shown);
  const int width = shown.isEmpty() ? kLastErrorEmptyWidth : lblLastError->fontMetrics().horizontalAdvance(shown);
  lblLastError->setGeometry(kLastErrorRight - width, kLastErrorTop, width, kLastErrorHeight);
}

void frmMain::ShowMessage(const MessageBoxRequest& request) {
  // A modal box runs an event loop of its own; the scan waits until it closes.
  ++boxesOpen_;
  if (presenter_) presenter_(this, request);
  --boxesOpen_;
}

void frmMain::SetTimerEnabled(int index) {
  if (closed_ || index < 0 || index >= kTimerCount) return;
  QTimer* timer = tmrPing[static_cast<std::size_t>(index)];
  // A running timer keeps its phase, so the pace stays one tick per 100 ms.
  if (!timer->isActive()) timer->start();
}

void frmMain::Command(void (ScanController::*command)()) {
  if (inTick_ || boxesOpen_ > 0 || closed_) return;
  (controller_.*command)();
}

void frmMain::OnTimerTick(int index) {
  // A tick that falls due inside one of this window's handlers (a box that
  // one of them opened) must not probe there: the scan goes on with the
  // next tick after.
  if (inTick_ || boxesOpen_ > 0 || closed_) return;
  inTick_ = true;
  controller_.PingTick(index);
  inTick_ = false;
}

PingWaitHook frmMain::WhileProbeWaits() {
  // Nothing to answer without the accessibility bus: the probe waits as it
  // always has.
  if (!QAccessible::isActive()) return {};
  return [this] { return readerRequests_.Answer(); };
}

bool frmMain::HandleKey(const QKeyEvent& event) {
  if ((event.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
  switch (event.key()) {
    case Qt::Key_Escape:
      cmdCancelScan->click();
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      QWidget* focused = focusWidget();
      if (focused == cmdDefaultRange || focused == cmdBeginScan || focused == cmdCancelScan) {
        static_cast<QPushButton*>(focused)->click();
      } else {
        cmdBeginScan->click();
      }
      return true;
    }
    default:
      return false;
  }
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && HandleKey(*static_cast<QKeyEvent*>(event))) return true;
  return QWidget::eventFilter(watched, event);
}

void frmMain::keyPressEvent(QKeyEvent* event) {
  if (HandleKey(*event)) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void frmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (opened_) return;
  opened_ = true;
  controller_.OnOpen();
  // After the window is up, so the notice stands in front of it.
  QTimer::singleShot(0, this, [this] { controller_.NotifyIfEchoNotPermitted(); });
}

void frmMain::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The layout is fixed and the off-screen widgets must stay out of view, so a
  // maximise or full screen that the window system grants anyway is undone.
  if (event->type() == QEvent::WindowStateChange &&
      (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) != 0) {
    QTimer::singleShot(0, this, [this] {
      setWindowState(windowState() & ~(Qt::WindowMaximized | Qt::WindowFullScreen));
      resize(kClientWidth, kClientHeight);
    });
  }
}

void frmMain::closeEvent(QCloseEvent* event) {
  // No probe after the close: the timers stop, for good, before the scan
  // ends and the sockets are released.
  closed_ = true;
  for (QTimer* timer : tmrPing) timer->stop();
  controller_.OnClose();
  event->accept();
}

}  // namespace zn7qx
