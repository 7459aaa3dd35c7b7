#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

namespace ktq::app {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A keyboard mnemonic on the first letter of a title the controller sets.
QString WithMnemonic(const std::string& title) { return "&" + Q(title); }

// The success alert's icon: a check mark in a green disc, drawn at the
// screen's pixel density.
QPixmap CheckMarkIcon(qreal devicePixelRatio) {
  const int size = 64;
  QPixmap pixmap(QSize(size, size) * devicePixelRatio);
  pixmap.setDevicePixelRatio(devicePixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x2e, 0x9d, 0x4f));
  p.drawEllipse(QRectF(4, 4, size - 8, size - 8));
  QPen pen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  QPainterPath check;
  check.moveTo(19, 33);
  check.lineTo(28, 42);
  check.lineTo(45, 23);
  p.drawPath(check);
  return pixmap;
}

// The file the user accepted, taken when the dialog accepts it: the dialog's
// own selection may still change afterwards as its folder finishes loading.
std::optional<std::string> RunFileDialog(QFileDialog& dialog) {
  QString chosen;
  QObject::connect(&dialog, &QFileDialog::fileSelected, &dialog, [&chosen](const QString& file) { chosen = file; });
  if (dialog.exec() != QDialog::Accepted || chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

QPlainTextEdit* ReadOnlyField(const char* name) {
  auto* field = new QPlainTextEdit;
  field->setObjectName(name);
  field->setReadOnly(true);
  field->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  field->setLineWrapMode(QPlainTextEdit::NoWrap);
  return field;
}

}  // namespace

MainWindow::MainWindow(BuildVariant variant, const QString& title, const std::string& version,
                       DeviceOperations operations) {
  setWindowTitle(title);
  setObjectName("mainWindow");

  infoText_ = ReadOnlyField("infoText");
  msgText_ = ReadOnlyField("msgText");
  msgText_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  msgText_->setTabStopDistance(msgText_->fontMetrics().horizontalAdvance(' ') * 4);
  // Three lines of identification and the empty line after the last line
  // end.
  infoText_->setFixedHeight(infoText_->fontMetrics().lineSpacing() * 4 +
                            2 * (infoText_->frameWidth() + static_cast<int>(infoText_->document()->documentMargin())) + 12);
  progress_ = new QProgressBar;
  progress_->setObjectName("progress");
  progress_->setRange(0, 100);
  progress_->setVisible(false);

  struct ButtonSetup {
    Button button;
    const char* name;
    const char* title;
    void (ViewController::*action)();
  };
  const ButtonSetup buttons[] = {
      {Button::openDevice, "openDeviceBtn", "&Open Device", &ViewController::openDeviceWithSender},
      {Button::updateRDX4410, "updateRDX4410Btn", "Update &RDX4410 Firmware...",
       &ViewController::cascadeUpdateWithSender},
      {Button::fileToFlash, "fileToFlashBtn", "Update &Firmware...", &ViewController::fileToFlashWithSender},
      {Button::dump, "dumpBtn", "Save &Dump...", &ViewController::dumpAll},
      {Button::quit, "quitBtn", "&Quit", &ViewController::quitApp},
      {Button::saveEmbeddedTefra, "saveEmbeddedTefraBtn", "Save &Tefra Log...", &ViewController::saveEmbeddedTefra},
  };
  for (const ButtonSetup& s : buttons) {
    auto* b = new QPushButton(s.title);
    b->setObjectName(s.name);
    b->setAutoDefault(true);
    connect(b, &QPushButton::clicked, this, [this, action = s.action] { ((*controller_).*action)(); });
    buttons_[static_cast<size_t>(s.button)] = b;
  }

  auto* fields = new QVBoxLayout;
  auto* infoLabel = new QLabel("&Device:");
  infoLabel->setBuddy(infoText_);
  auto* msgLabel = new QLabel("&Messages:");
  msgLabel->setBuddy(msgText_);
  fields->addWidget(infoLabel);
  fields->addWidget(infoText_);
  fields->addWidget(msgLabel);
  fields->addWidget(msgText_, 1);
  fields->addWidget(progress_);

  auto* column = new QVBoxLayout;
  for (Button b : {Button::openDevice, Button::fileToFlash, Button::updateRDX4410, Button::saveEmbeddedTefra,
                   Button::dump})
    column->addWidget(button(b));
  column->addStretch(1);
  column->addWidget(button(Button::quit));

  auto* layout = new QHBoxLayout(this);
  layout->addLayout(fields, 1);
  layout->addLayout(column);
  setMinimumSize(640, 420);
  resize(760, 520);

  // Tab goes from the buttons to the fields, in reading order.
  QWidget* order[] = {button(Button::openDevice), button(Button::fileToFlash), button(Button::updateRDX4410),
                      button(Button::saveEmbeddedTefra), button(Button::dump), button(Button::quit),
                      infoText_, msgText_};
  for (size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  button(Button::openDevice)->setFocus();

  controller_ = std::make_shared<ViewController>(*this, variant, version, operations);
  controller_->viewDidLoad();
}

MainWindow::~MainWindow() {
  workers_.waitForDone();
  controller_->shutDown();
}

void MainWindow::setText(Field field, const std::string& text) {
  // The device logic ends dump lines with "\r\n"; the field shows plain line
  // ends, the controller keeps the text as it came.
  QString shown = Q(text);
  shown.replace("\r\n", "\n");
  QPlainTextEdit* edit = field == Field::info ? infoText_ : msgText_;
  edit->setPlainText(shown);
  if (field == Field::message) edit->verticalScrollBar()->setValue(edit->verticalScrollBar()->maximum());
}

void MainWindow::setEnabled(Button b, bool enabled) { button(b)->setEnabled(enabled); }

void MainWindow::setTitle(Button b, const std::string& title) { button(b)->setText(WithMnemonic(title)); }

void MainWindow::setHidden(Button b, bool hidden) { button(b)->setHidden(hidden); }

void MainWindow::showProgress(std::optional<uint32_t> percent) {
  progress_->setVisible(percent.has_value());
  if (percent) progress_->setValue(static_cast<int>(*percent));
}

std::optional<std::string> MainWindow::runOpenPanel(const OpenPanel& panel) {
  QFileDialog dialog(this, Q(panel.message));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilter(QString("%1 (*.%2)").arg(Q(panel.message), Q(panel.extension)));
  dialog.setFilter(dialog.filter() & ~QDir::Hidden);
  return RunFileDialog(dialog);
}

std::optional<std::string> MainWindow::runSavePanel(const SavePanel& panel) {
  QFileDialog dialog(this, Q(panel.title));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  // Read-only model: no folders are made from the panel.
  dialog.setOption(QFileDialog::ReadOnly, true);
  dialog.setNameFilter(QString("*.%1").arg(Q(panel.extension)));
  dialog.setDefaultSuffix(Q(panel.extension));
  dialog.setFilter(dialog.filter() & ~QDir::Hidden);
  dialog.selectFile(Q(panel.proposedName + "." + panel.extension));
  return RunFileDialog(dialog);
}

int MainWindow::runAlert(const Alert& alert) {
  QMessageBox box(this);
  box.setWindowTitle(windowTitle());
  box.setTextFormat(Qt::PlainText);
  if (alert.icon == AlertIcon::warning) {
    box.setIcon(QMessageBox::Warning);
  } else {
    box.setIconPixmap(CheckMarkIcon(devicePixelRatioF()));
  }
  box.setText(Q(alert.message));
  box.setInformativeText(Q(alert.informative));
  std::vector<QAbstractButton*> buttons;
  for (size_t i = 0; i < alert.buttons.size(); ++i) {
    buttons.push_back(box.addButton(Q(alert.buttons[i]), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
  }
  if (!buttons.empty()) box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
  if (buttons.size() > 1) box.setEscapeButton(buttons.back());
  box.exec();
  for (size_t i = 0; i < buttons.size(); ++i)
    if (box.clickedButton() == buttons[i]) return static_cast<int>(i);
  return -1;
}

void MainWindow::postToMain(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void MainWindow::runInBackground(std::function<void()> work, std::function<void()> completion) {
  workers_.start([this, work = std::move(work), completion = std::move(completion)] {
    work();
    postToMain([this, completion] {
      completion();
      emit operationFinished();
    });
  });
}

void MainWindow::terminate() {
  quitting_ = true;
  hide();
  QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (quitting_) {
    event->accept();
    return;
  }
  event->ignore();
  if (controller_->buttonState() != ButtonState::busy) controller_->quitApp();
}

}  // namespace ktq::app
