// Answers the modal dialogs a window opens (file panels, alerts) from a
// timer, since the call that opens one only returns once it is answered.
#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

namespace ktq::testing {

// Polls every 10 ms for a modal widget of type T and answers the first one
// with `answer`; stops after `give_up_ms` without one.
template <typename T>
void AnswerNextModal(std::function<void(T*)> answer, int give_up_ms = 30000) {
  auto* timer = new QTimer;
  auto waited = std::make_shared<int>(0);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, answer, waited, give_up_ms] {
    if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      answer(w);
    } else if ((*waited += 10) > give_up_ms) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

// Chooses `path` in the next file panel, as a user typing its name would;
// the panel's title goes to `title`.
inline void ChooseFile(const std::string& path, std::string* title = nullptr) {
  AnswerNextModal<QFileDialog>([path, title](QFileDialog* d) {
    if (title) *title = d->windowTitle().toStdString();
    const QFileInfo file(QString::fromStdString(path));
    d->setDirectory(file.absolutePath());
    // selectFile leaves the name field alone while it has the focus.
    if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) {
      name->setText(file.fileName());
    } else {
      d->selectFile(file.absoluteFilePath());
    }
    QMetaObject::invokeMethod(d, "accept");  // as the panel's own button does
  });
}

struct AlertSeen {
  std::string text, informative;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool hasPixmap = false;
  std::vector<std::string> buttons;
};

// Presses the button titled presses[0] in the next alert, then presses[1] in
// the one after it, and so on, recording each alert. The next answer is
// armed before the button is pressed, since pressing may open the next
// alert at once.
inline void AnswerAlerts(std::vector<std::string> presses, std::vector<AlertSeen>* seen) {
  if (presses.empty()) return;
  AnswerNextModal<QMessageBox>([presses, seen](QMessageBox* box) {
    const std::string press = presses.front();
    AlertSeen a{box->text().toStdString(), box->informativeText().toStdString(), box->icon(),
                !box->iconPixmap().isNull(), {}};
    QAbstractButton* target = nullptr;
    for (QAbstractButton* b : box->buttons()) {
      a.buttons.push_back(b->text().toStdString());
      if (b->text().toStdString() == press) target = b;
    }
    if (seen) seen->push_back(a);
    AnswerAlerts(std::vector<std::string>(presses.begin() + 1, presses.end()), seen);
    if (target) target->click();
  });
}

}  // namespace ktq::testing
