#pragma once
// The program's only window: fixed layout, keyboard roles, the timer array,
// and the ScanView the controller works on.

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <array>

#include "ui/ListWidgetTextList.h"
#include "ui/MessageBoxes.h"
#include "ui/ReaderRequests.h"
#include "ui/ScanController.h"
#include "ui/ScanSeams.h"
#include "ui/ScanView.h"

namespace zn7qx {

class frmMain final : public QWidget, public ScanView {
  Q_OBJECT

 public:
  // Client area in pixels (15 twips each).
  static constexpr int kClientWidth = 457;
  static constexpr int kClientHeight = 355;
  // Right edge and row of lblLastError, in pixels.
  static constexpr int kLastErrorRight = 441;
  static constexpr int kLastErrorTop = 128;
  static constexpr int kLastErrorHeight = 13;
  static constexpr int kLastErrorEmptyWidth = 5;
  static constexpr int kTimerCount = 5;

  explicit frmMain(ScanSeams seams, QWidget* parent = nullptr);
  ~frmMain() override;

  // Where the modal boxes go; the default shows a real QMessageBox.
  void SetMessagePresenter(MessagePresenter presenter) { presenter_ = std::move(presenter); }

  ScanController& Controller() { return controller_; }

  // ScanView
  std::string StartText() const override;
  void SetStartText(const std::string& text) override;
  std::string EndText() const override;
  void SetEndText(const std::string& text) override;
  TextList& Queue() override { return queue_; }
  TextList& Units() override { return units_; }
  TextList& Others() override { return others_; }
  void SetStatusText(const std::string& text) override;
  void SetLastErrorText(const std::string& text) override;
  void ShowMessage(const MessageBoxRequest& request) override;
  void SetTimerEnabled(int index) override;
  PingWaitHook WhileProbeWaits() override;

  // Widgets, named as the window's design names them, created in stacking
  // order (a later widget is drawn above an earlier one it overlaps).
  QLabel* const Label4 = new QLabel(this);
  QLabel* const Label7 = new QLabel(this);
  QLabel* const Label8 = new QLabel(this);
  QLabel* const Label9 = new QLabel(this);
  QLabel* const Label1 = new QLabel(this);
  QLineEdit* const txtIpAddrStart = new QLineEdit(this);
  QLabel* const Label2 = new QLabel(this);
  QLineEdit* const txtIpAddrEnd = new QLineEdit(this);
  QPushButton* const cmdDefaultRange = new QPushButton(this);
  QPushButton* const cmdBeginScan = new QPushButton(this);
  QPushButton* const cmdCancelScan = new QPushButton(this);
  QLabel* const Label6 = new QLabel(this);
  QLabel* const lblLastError = new QLabel(this);
  QListWidget* const lstIpZN7QX = new QListWidget(this);
  QLabel* const lblStatus = new QLabel(this);
  QLabel* const Label3 = new QLabel(this);
  QListWidget* const lstIpToScan = new QListWidget(this);
  QLabel* const Label5 = new QLabel(this);
  QListWidget* const lstIpOther = new QListWidget(this);
  std::array<QTimer*, kTimerCount> tmrPing{};

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  bool HandleKey(const QKeyEvent& event);
  void OnTimerTick(int index);
  // A command of the user's; none while another handler runs (a box of
  // it is open), to which the window is modal, also for a reader's press.
  void Command(void (ScanController::*command)());

  ListWidgetTextList queue_;
  ListWidgetTextList units_;
  ListWidgetTextList others_;
  MessagePresenter presenter_ = ShowModalMessageBox;
  // A reader's press of a button starts an animated click, whose timer
  // comes after the probe, as a click does.
  ReaderRequests readerRequests_;
  ScanController controller_;
  bool opened_ = false;
  bool inTick_ = false;
  bool closed_ = false;
  int boxesOpen_ = 0;
};

}  // namespace zn7qx
