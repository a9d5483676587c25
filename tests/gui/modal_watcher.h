#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

namespace veltra::test {

// Answers the modal boxes and dialogs a test's action opens. It looks for a
// new active modal widget on every turn of the event loop (nested loops
// included), records message boxes and clicks their answer, and hands any
// other dialog to the next scripted handler.
class ModalWatcher : public QObject {
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    ModalWatcher() {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    std::vector<Box> boxes;
    // The button message boxes are answered with, in order; Ok when none is left.
    std::deque<QMessageBox::StandardButton> answers;
    // Handlers for other dialogs, one per dialog, in order.
    std::deque<std::function<void(QDialog*)>> dialogs;
    int unhandledDialogs = 0;

private:
    static constexpr int kDialogDeadlineMs = 20000;

    void poll() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        for (const QPointer<QWidget>& done : m_handled) {
            if (done == w)
                return;
        }
        m_handled.append(QPointer<QWidget>(w));
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            QMessageBox::StandardButton answer = QMessageBox::Ok;
            if (!answers.empty()) {
                answer = answers.front();
                answers.pop_front();
            }
            if (QAbstractButton* b = box->button(answer))
                b->click();
            else
                box->reject();
            return;
        }
        if (auto* dlg = qobject_cast<QDialog*>(w)) {
            if (dialogs.empty()) {
                ++unhandledDialogs;
                dlg->reject();
                return;
            }
            auto handler = std::move(dialogs.front());
            dialogs.pop_front();
            // Off this timer: a handler may open a box of its own (a refused
            // OK), which this timer must be free to answer.
            QTimer::singleShot(0, dlg, [handler = std::move(handler), dlg] { handler(dlg); });
            // A handler whose checks failed may leave its dialog open; the
            // test must still end.
            QTimer::singleShot(kDialogDeadlineMs, dlg, [dlg] {
                if (dlg->isVisible())
                    dlg->reject();
            });
        }
    }

    QTimer m_timer;
    QList<QPointer<QWidget>> m_handled;
};

}  // namespace veltra::test
