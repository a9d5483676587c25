#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <vector>

namespace veltra::test {

// Records and answers the message boxes a test's action opens (nested event loops too); dialogs go to `dialogs`.
class ModalWatcher : public QObject {
public:
    struct Box {
        QString title, text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        bool operator==(const Box&) const = default;
    };
    std::vector<Box> boxes;
    QList<QMessageBox::StandardButton> answers;    // Ok once none is left
    QList<std::function<void(QDialog*)>> dialogs;  // one handler per dialog, in order; none: rejected
    std::function<void()> onBox;                   // runs while each box is up, before it is answered
    ModalWatcher() { startTimer(0); }

private:
    void timerEvent(QTimerEvent*) override {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || m_handled.contains(w))
            return;
        m_handled << w;
        auto* dlg = qobject_cast<QDialog*>(w);
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            if (onBox)
                onBox();
            box->button(answers.isEmpty() ? QMessageBox::Ok : answers.takeFirst())->click();
        } else if (dlg && dialogs.isEmpty()) {
            dlg->reject();
        } else if (dlg) {  // off this timer, which must stay free to answer a box the handler opens
            QTimer::singleShot(0, dlg, [h = dialogs.takeFirst(), dlg] { h(dlg); });
            QTimer::singleShot(20000, dlg, &QDialog::reject);  // a failed handler must not hang the test
        }
    }
    QList<QPointer<QWidget>> m_handled;
};

}  // namespace veltra::test
