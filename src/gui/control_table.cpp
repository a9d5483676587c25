#include "gui/control_table.h"

#include "gui/log_view.h"

#include "gui/track_bar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>

#include <cmath>
#include <cstring>

namespace veltra {

namespace {

constexpr const char* kIdProperty = "veltraControlId";

int scale(int du, int base, int divisor) {
    // Rounded like the platform's MulDiv, so a template maps to whole pixels
    // the same way at every size.
    return static_cast<int>(std::lround(static_cast<double>(du) * base / divisor));
}

Qt::Alignment textAlignment(unsigned flags) {
    Qt::Alignment a = Qt::AlignLeft;
    if (flags & kCentre)
        a = Qt::AlignHCenter;
    else if (flags & kRight)
        a = Qt::AlignRight;
    return a;
}

QWidget* createControl(const ControlRow& c, QWidget* parent) {
    const QString caption = QString::fromUtf8(c.caption);
    switch (c.kind) {
    case ControlKind::DefPushButton:
    case ControlKind::PushButton: {
        auto* b = new QPushButton(caption, parent);
        b->setDefault(c.kind == ControlKind::DefPushButton);
        return b;
    }
    case ControlKind::ListBox:
        return new LogView(parent);
    case ControlKind::Label: {
        auto* l = new QLabel(caption, parent);
        // Static texts start at the top unless the template centres them.
        l->setAlignment(textAlignment(c.flags) | ((c.flags & kVCentre) ? Qt::AlignVCenter : Qt::AlignTop));
        if (c.flags & kBorder) {
            l->setFrameShape(QFrame::Box);
            l->setFrameShadow(QFrame::Plain);
            l->setLineWidth(1);
        }
        l->setTextFormat(Qt::PlainText);
        return l;
    }
    case ControlKind::Edit: {
        auto* e = new QLineEdit(caption, parent);
        e->setAlignment(textAlignment(c.flags) | Qt::AlignVCenter);
        e->setReadOnly(c.flags & kReadOnly);
        return e;
    }
    case ControlKind::GroupBox: {
        auto* g = new QGroupBox(caption, parent);
        g->setAlignment((c.flags & kCentre) ? Qt::AlignHCenter : Qt::AlignLeft);
        g->setFocusPolicy(Qt::NoFocus);
        return g;
    }
    case ControlKind::Radio: {
        auto* r = new QRadioButton(caption, parent);
        // Auto-exclusive, so it is a radio button to Qt; the exclusive group
        // it joins keeps one checked and lets go when none is to be.
        return r;
    }
    case ControlKind::CheckBox:
        return new QCheckBox(caption, parent);
    case ControlKind::Slider: {
        auto* s = new TrackBar(parent);
        return s;
    }
    case ControlKind::DropList:
    case ControlKind::DropDown: {
        auto* cb = new QComboBox(parent);
        cb->setEditable(c.kind == ControlKind::DropDown);
        cb->setInsertPolicy(QComboBox::NoInsert);
        return cb;
    }
    }
    return nullptr;
}

// A caption wider than its template box (the template was drawn for a
// narrower face) is drawn with its letters closer together, so a ruler or a
// long radio caption keeps its full length instead of losing its end.
void fitCaption(QWidget* w, const ControlRow& c) {
    if (c.kind != ControlKind::Label && c.kind != ControlKind::Radio && c.kind != ControlKind::CheckBox)
        return;
    const QString text = QString::fromUtf8(c.caption);
    if (text.size() < 2)
        return;
    const QFontMetricsF fm(w->font());
    const qreal advance = fm.horizontalAdvance(text);
    qreal room = w->width();
    if (c.kind == ControlKind::Label)
        room -= 2 * static_cast<QLabel*>(w)->frameWidth();
    else
        room -= w->sizeHint().width() - fm.horizontalAdvance(text);  // indicator and its spacing
    if (advance <= room)
        return;
    QFont f = w->font();
    f.setLetterSpacing(QFont::AbsoluteSpacing, (room - advance) / static_cast<qreal>(text.size() - 1));
    w->setFont(f);
}

}  // namespace

DialogUnits DialogUnits::fromFont(const QFont& font) {
    const QFontMetrics fm(font);
    // The average width of the 52 Latin letters, as the platform that dialog
    // templates come from measures a dialog font.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int avg = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    return DialogUnits(std::max(1, avg), std::max(1, fm.height()));
}

int DialogUnits::toPixelsX(int du) const { return scale(du, m_baseX, 4); }
int DialogUnits::toPixelsY(int du) const { return scale(du, m_baseY, 8); }

QRect DialogUnits::toPixels(int x, int y, int w, int h) const {
    return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(w), toPixelsY(h));
}

QFont dialogFont() {
    QFont f = QApplication::font();
    // The template's face first; the application's own family is the fallback.
    QStringList families{QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif")};
    families.append(f.families().isEmpty() ? QStringList{f.family()} : f.families());
    f.setFamilies(families);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(8);
    return f;
}

std::vector<QWidget*> buildControls(QWidget* parent, std::span<const ControlRow> controls,
                                    const DialogUnits& units) {
    std::vector<QWidget*> widgets;
    widgets.reserve(controls.size());
    QWidget* previousFocusable = nullptr;
    for (const ControlRow& c : controls) {
        QWidget* w = createControl(c, parent);
        QRect r = units.toPixels(c.x, c.y, c.w, c.h);
        if (c.kind == ControlKind::DropList || c.kind == ControlKind::DropDown) {
            // A combo's template height includes its dropped list; closed, it
            // is as tall as its text needs.
            r.setHeight(w->sizeHint().height());
        }
        w->setGeometry(r);
        fitCaption(w, c);
        w->setProperty(kIdProperty, c.id);
        if (c.id != kNoId)
            w->setObjectName(QStringLiteral("ctl%1").arg(c.id));
        // A control with a caption of its own is named by its caption as it
        // reads now; a fixed name only for the ones without (named by their label).
        if (c.name && *c.name)
            w->setAccessibleName(QString::fromUtf8(c.name));
        if (c.kind == ControlKind::GroupBox)
            w->lower();
        if (w->focusPolicy() != Qt::NoFocus) {
            if (previousFocusable)
                QWidget::setTabOrder(previousFocusable, w);
            previousFocusable = w;
        }
        widgets.push_back(w);
    }
    // A control named by a label has that label as its buddy, so the label
    // is reported as labelling it (the platform's own way of naming it).
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (!controls[i].name || !*controls[i].name)
            continue;
        for (std::size_t j = 0; j < controls.size(); ++j) {
            if (controls[j].kind == ControlKind::Label && std::strcmp(controls[j].caption, controls[i].name) == 0) {
                static_cast<QLabel*>(widgets[j])->setBuddy(widgets[i]);
                break;
            }
        }
    }
    return widgets;
}

int controlId(const QWidget* widget) {
    const QVariant v = widget ? widget->property(kIdProperty) : QVariant();
    return v.isValid() ? v.toInt() : kNoId;
}

}  // namespace veltra
