// The control table: the rows that describe a dialog's controls (kind,
// caption, place in dialog units), dialog units themselves, the dialog font,
// and the widgets built from the rows.
#pragma once

#include <QFont>
#include <QRect>

#include <span>
#include <vector>

class QWidget;

namespace veltra {

// What a row of a dialog template creates.
enum class ControlKind {
    DefPushButton,  // the button Enter activates
    PushButton,
    ListBox,
    Label,
    Edit,
    GroupBox,
    Radio,
    CheckBox,
    Slider,
    DropList,  // drop-down list, items only
    DropDown,  // drop-down combo with an editable text
};

// Style bits of a template row.
enum ControlFlag : unsigned {
    kNoFlags = 0,
    kGroupStart = 1u << 0,  // a radio that starts a new radio group
    kCentre = 1u << 1,      // text centred horizontally
    kRight = 1u << 2,       // text right-aligned
    kVCentre = 1u << 3,     // label text centred vertically
    kBorder = 1u << 4,      // thin frame around a label
    kReadOnly = 1u << 5,
    kSorted = 1u << 6,      // list items kept sorted
    kUpperCase = 1u << 7,   // list items shown in capitals
};

inline constexpr int kNoId = -1;

// One control of a dialog template: position and size in dialog units.
// `name` is the accessible name when the control has no caption of its own
// (the label that names it); empty means "use the caption".
struct ControlRow {
    int id;
    ControlKind kind;
    const char* caption;
    int x, y, w, h;
    unsigned flags = kNoFlags;
    const char* name = "";
};

struct ControlTable {
    const char* caption;
    int width, height;  // client area in dialog units
    std::span<const ControlRow> controls;
};

// Dialog units to pixels from a font's metrics: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth
// of its height.
class DialogUnits {
public:
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}
    static DialogUnits fromFont(const QFont& font);

    int baseX() const { return m_baseX; }
    int baseY() const { return m_baseY; }
    int toPixelsX(int du) const;
    int toPixelsY(int du) const;
    QRect toPixels(int x, int y, int w, int h) const;

private:
    int m_baseX;
    int m_baseY;
};

// The font every dialog of the program uses: 8-point "MS Sans Serif", or the
// system's sans serif where that face does not exist.
QFont dialogFont();

// Creates every control of `controls` as a child of `parent`, in table order
// (which is also the tab order), at its converted place. Group boxes go behind
// the other controls. Returns the widgets in table order. Controls with an id
// are named "ctl<id>" so they can be found by id.
std::vector<QWidget*> buildControls(QWidget* parent, std::span<const ControlRow> controls,
                                    const DialogUnits& units);

// The id of the widget's row, or kNoId.
int controlId(const QWidget* widget);

}  // namespace veltra
