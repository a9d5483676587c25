// The panel window against its dialog template: places, captions, names,
// tab order.

#include "gui/cshutterpaneldlg.h"
#include "gui/panel_template.h"
#include "gui/track_bar.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QScreen>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QAbstractItemView>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <set>

namespace veltra {
namespace {

QString captionOf(const QWidget* w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    return {};
}

struct UnitsRow {
    int baseX, baseY, du, pxX, pxY;
};

class DialogUnitsTest : public ::testing::TestWithParam<UnitsRow> {};

TEST_P(DialogUnitsTest, convertsRoundedFromTheFontBase) {
    const UnitsRow r = GetParam();
    const DialogUnits u(r.baseX, r.baseY);
    EXPECT_EQ(u.toPixelsX(r.du), r.pxX);
    EXPECT_EQ(u.toPixelsY(r.du), r.pxY);
}

INSTANTIATE_TEST_SUITE_P(Rows, DialogUnitsTest,
                         ::testing::Values(UnitsRow{6, 13, 569, 854, 925},  // 853.5 rounds up
                                           UnitsRow{6, 13, 489, 734, 795},   // 794.6 rounds up
                                           UnitsRow{7, 13, 4, 7, 7},         // 6.5 rounds up
                                           UnitsRow{6, 13, 1, 2, 2}, UnitsRow{8, 16, 0, 0, 0},
                                           UnitsRow{5, 12, 10, 13, 15}));

class PanelLayoutTest : public ::testing::Test {
protected:
    CShutterPanelDlg dlg;
};

TEST_F(PanelLayoutTest, windowCarriesTheCaptionAndAnIcon) {
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Veltra Utility - COM v1.12"));
    EXPECT_FALSE(dlg.windowIcon().isNull());
    EXPECT_FALSE(dlg.windowIcon().pixmap(32, 32).isNull());
}

TEST_F(PanelLayoutTest, everyTemplateRowIsBuiltAtItsConvertedPlace) {
    const auto rows = kPanelTemplate.controls;
    ASSERT_EQ(rows.size(), 92u);
    ASSERT_EQ(dlg.controls().size(), rows.size());
    const DialogUnits& u = dlg.units();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ControlRow& c = rows[i];
        const QWidget* w = dlg.controls()[i];
        SCOPED_TRACE(testing::Message() << "row " << i << " id " << c.id << " '" << c.caption << "'");
        const QRect want = u.toPixels(c.x, c.y, c.w, c.h);
        EXPECT_EQ(w->pos(), want.topLeft());
        EXPECT_EQ(w->width(), want.width());
        if (c.kind != ControlKind::DropList) {  // a closed combo is as tall as its text
            EXPECT_EQ(w->height(), want.height());
        }
        EXPECT_EQ(w->parentWidget(), dlg.page());
        if (c.id != kNoId) {
            EXPECT_EQ(w->objectName(), QStringLiteral("ctl%1").arg(c.id));
            EXPECT_EQ(dlg.control(c.id), w);
        }
        if (c.kind != ControlKind::Slider && c.kind != ControlKind::Edit && c.kind != ControlKind::ListBox &&
            c.kind != ControlKind::DropList) {
            EXPECT_EQ(captionOf(w), QString::fromUtf8(c.caption));
        }
    }
}

TEST_F(PanelLayoutTest, pageIsTheTemplateSizeInTheDialogFont) {
    const DialogUnits expected = DialogUnits::fromFont(dlg.font());
    EXPECT_EQ(dlg.units().baseX(), expected.baseX());
    EXPECT_EQ(dlg.units().baseY(), expected.baseY());
    EXPECT_EQ(dlg.page()->size(), QSize(expected.toPixelsX(569), expected.toPixelsY(489)));
    EXPECT_EQ(dlg.font().pointSize(), 8);
}

// Spot checks straight from the template, so a slip in the table shows.
struct SpotRow {
    int id;
    const char* caption;
    int x, y, w, h;
};

class PanelSpotTest : public ::testing::TestWithParam<SpotRow> {};

TEST_P(PanelSpotTest, controlSitsWhereTheTemplateSays) {
    CShutterPanelDlg dlg;
    const SpotRow r = GetParam();
    QWidget* w = dlg.control(r.id);
    ASSERT_NE(w, nullptr) << r.id;
    EXPECT_EQ(w->geometry().topLeft(), dlg.units().toPixels(r.x, r.y, r.w, r.h).topLeft()) << r.id;
    EXPECT_EQ(w->width(), dlg.units().toPixelsX(r.w)) << r.id;
    if (*r.caption) {
        EXPECT_EQ(captionOf(w), QString::fromUtf8(r.caption)) << r.id;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PanelSpotTest,
    ::testing::Values(SpotRow{1, "Exit", 501, 408, 41, 14}, SpotRow{1000, "", 7, 409, 371, 73},
                      SpotRow{1005, "", 159, 18, 69, 12}, SpotRow{1022, "Configurate", 43, 33, 45, 14},
                      SpotRow{1025, "Configurate", 393, 33, 45, 14}, SpotRow{1008, "Online", 481, 306, 41, 14},
                      SpotRow{1103, "Neutral Density", 145, 98, 85, 10},
                      SpotRow{1034, "Trigger Pulse ->>", 215, 71, 66, 10},
                      SpotRow{1133, "Cycle Time  -  00 : 00 : 00 : 000 : 0", 188, 169, 131, 11},
                      SpotRow{1141, "", 24, 239, 419, 11}, SpotRow{1110, "On Trigger Pulse --->", 73, 339, 80, 10},
                      SpotRow{1111, "Go ------------------------->", 73, 352, 79, 10},
                      SpotRow{1147, "", 76, 202, 103, 38}, SpotRow{1148, "", 155, 351, 58, 14},
                      SpotRow{1026, "Load Config.", 245, 347, 48, 14},
                      SpotRow{1154, "Trigger on Falling Edge", 287, 101, 89, 10}));

struct NameRow {
    int id;
    const char* name;
};

class AccessibleNameTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(AccessibleNameTest, controlIsNamedByItsCaptionOrItsLabel) {
    CShutterPanelDlg dlg;
    const NameRow r = GetParam();
    ASSERT_NE(dlg.control(r.id), nullptr);
    EXPECT_EQ(dlg.control(r.id)->accessibleName(), QString::fromUtf8(r.name));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccessibleNameTest,
    ::testing::Values(NameRow{1004, "COM1 status"}, NameRow{1005, "COM2 status"}, NameRow{1006, "COM3 status"},
                      NameRow{1007, "COM4 status"}, NameRow{1000, "Data Received from Controller:"},
                      NameRow{1135, "HR"}, NameRow{1136, "MIN"}, NameRow{1137, "S"}, NameRow{1138, "MS"},
                      NameRow{1139, ".1MS"}, NameRow{1144, "0 - 5 Hour"}, NameRow{1143, "0 - 59 Minute"},
                      NameRow{1142, "0 - 59 Seconds"}, NameRow{1141, "0 - 999 Milliseconds"},
                      NameRow{1140, "0 - 0.9 Milliseconds"}, NameRow{1147, "Select Timer:"},
                      NameRow{1145, "Repeat Cycle Number:"}, NameRow{1148, "Left Cycle Number"},
                      NameRow{1022, "Configurate COM1"}, NameRow{1023, "Configurate COM2"},
                      NameRow{1024, "Configurate COM3"}, NameRow{1025, "Configurate COM4"},
                      NameRow{1, "Exit"}, NameRow{1016, "Set Timer on Controller"}, NameRow{1101, "Fast"},
                      NameRow{1035, "SYNC Pulse ->>"}, NameRow{1131, "12 ms"}));

TEST_F(PanelLayoutTest, everyControlHasAnAccessibleName) {
    for (const QWidget* w : dlg.controls())
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
}

TEST_F(PanelLayoutTest, tabOrderFollowsTheTemplate) {
    std::vector<QWidget*> focusable;
    for (QWidget* w : dlg.controls()) {
        if (w->focusPolicy() & Qt::TabFocus)
            focusable.push_back(w);
    }
    ASSERT_EQ(focusable.size(), 54u);  // buttons, radios, check boxes, edits, sliders, lists
    EXPECT_EQ(focusable.front(), dlg.control(ctl::kExit));
    for (std::size_t i = 0; i + 1 < focusable.size(); ++i) {
        QWidget* next = focusable[i]->nextInFocusChain();
        // Widgets without tab focus (labels) may sit between two stops.
        while (next && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        EXPECT_EQ(next, focusable[i + 1]) << "after " << focusable[i]->objectName().toStdString();
    }
}

TEST_F(PanelLayoutTest, groupBoxesLieBehindTheControls) {
    const QObjectList& children = dlg.page()->children();
    int lastGroup = -1;
    int firstOther = static_cast<int>(children.size());
    for (int i = 0; i < children.size(); ++i) {
        if (qobject_cast<QGroupBox*>(children[i]))
            lastGroup = i;
        else if (qobject_cast<QWidget*>(children[i]))
            firstOther = std::min(firstOther, i);
    }
    EXPECT_LT(lastGroup, firstOther);
}

TEST_F(PanelLayoutTest, timerListHoldsItsThreeItemsAndNoSelection) {
    auto* combo = dlg.control<QComboBox>(ctl::kTimerSelect);
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("Delay Time"));
    EXPECT_EQ(combo->itemText(1), QStringLiteral("Exposure Time"));
    EXPECT_EQ(combo->itemText(2), QString());
    EXPECT_EQ(combo->currentIndex(), -1);
}

struct SliderRow {
    int id;
    int max;
};

class SliderRangeTest : public ::testing::TestWithParam<SliderRow> {};

TEST_P(SliderRangeTest, sliderHasItsRange) {
    CShutterPanelDlg dlg;
    auto* s = dlg.control<TrackBar>(GetParam().id);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->minimum(), 0);
    EXPECT_EQ(s->maximum(), GetParam().max);
    EXPECT_EQ(s->orientation(), Qt::Horizontal);
    EXPECT_EQ(s->tickPosition(), QSlider::NoTicks);
}

INSTANTIATE_TEST_SUITE_P(Rows, SliderRangeTest,
                         ::testing::Values(SliderRow{1140, 9}, SliderRow{1141, 999}, SliderRow{1142, 59},
                                           SliderRow{1143, 59}, SliderRow{1144, 5}));

TEST_F(PanelLayoutTest, everyControlIsReachableInAShortWindow) {
    dlg.resize(dlg.templateSize().width() / 2, dlg.templateSize().height() / 3);
    dlg.show();
    QScrollArea* area = dlg.scrollArea();
    QCoreApplication::processEvents();
    EXPECT_GE(area->verticalScrollBar()->maximum(),
              dlg.templateSize().height() - area->viewport()->height());
    QWidget* exit = dlg.control(ctl::kExit);
    area->ensureWidgetVisible(exit);
    const QRect onViewport(exit->mapTo(area->viewport(), QPoint(0, 0)), exit->size());
    EXPECT_TRUE(area->viewport()->rect().contains(onViewport));
}

TEST_F(PanelLayoutTest, windowStartsAtTheTemplateSizeWhenTheScreenHoldsIt) {
    const QSize room = dlg.screen()->availableGeometry().size() - QSize(16, 48);
    EXPECT_EQ(dlg.size(), dlg.templateSize().boundedTo(room));
}

TEST_F(PanelLayoutTest, idsAreUniqueAndNamesFindTheControls) {
    std::set<int> ids;
    for (const ControlRow& c : kPanelTemplate.controls) {
        if (c.id == kNoId)
            continue;
        EXPECT_TRUE(ids.insert(c.id).second) << c.id;
        EXPECT_EQ(dlg.findChild<QWidget*>(QStringLiteral("ctl%1").arg(c.id)), dlg.control(c.id));
    }
}

}  // namespace
}  // namespace veltra
