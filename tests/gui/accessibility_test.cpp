// A line edit as screen readers read it. (The order of what they are told
// when Tab enters a field needs the real accessibility bus: orca_e2e.)

#include "gui/accessibility.h"
#include "support/qt_print.h"

#include <QAccessible>
#include <QIntValidator>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

namespace veltra {
namespace {

// A line edit through its accessibility interface: one attribute run over the
// whole text; text, caret and selection as shown; edits only where the
// operator could type them.
TEST(LineEditAccessibleTest, oneAttributeRunAndEditsOnlyWhereTheOperatorCouldType) {
    struct Row {
        const char* text;
        bool readOnly;
        bool asValue;       // the edit sets the value, else replaces the whole text
        const char* edit;   // through the interface
        const char* after;
    };
    const Row rows[] = {
        {"45", false, false, "42", "42"},
        {"7", false, true, "59", "59"},
        {"", false, false, "5", "5"},
        {"10", true, false, "3", "10"},  // read-only: the program's own value
        {"10", true, true, "3", "10"},
        {"12", false, false, "99", "12"},  // refused by the field's check (0 to 59)
        {"12", false, true, "", "12"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.text << " -> " << r.edit);
        installAccessibility();
        QLineEdit edit(QString::fromUtf8(r.text));
        edit.setReadOnly(r.readOnly);
        QIntValidator range(0, 59);
        edit.setValidator(&range);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(&edit);
        ASSERT_TRUE(a && a->textInterface() && a->editableTextInterface());
        QAccessibleTextInterface* t = a->textInterface();
        const int n = static_cast<int>(edit.text().size());
        for (int offset = 0; offset <= n; ++offset) {
            int start = -1, end = -1;
            t->attributes(offset, &start, &end);
            EXPECT_EQ(std::pair(start, end), std::pair(0, n)) << offset;
        }
        edit.selectAll();
        int start = -1, end = -1;
        t->selection(0, &start, &end);
        EXPECT_EQ(std::tuple(t->text(0, n), a->text(QAccessible::Value), t->characterCount(), t->selectionCount(), start,
                             end, t->cursorPosition(), bool(a->state().readOnly)),
                  std::tuple(edit.text(), edit.text(), n, n ? 1 : 0, 0, n, n, r.readOnly));
        if (r.asValue)
            a->setText(QAccessible::Value, QString::fromUtf8(r.edit));
        else
            a->editableTextInterface()->replaceText(0, n, QString::fromUtf8(r.edit));
        EXPECT_EQ(edit.text(), QString::fromUtf8(r.after));
    }
}

}  // namespace
}  // namespace veltra
