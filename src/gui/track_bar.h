#pragma once

#include <QSlider>

namespace veltra {

// A horizontal slider that reports the end of every mouse interaction, not
// only the end of a handle drag: a click on the groove pages the slider and
// must be taken like a drag that ends there. Keyboard moves report nothing.
class TrackBar : public QSlider {
    Q_OBJECT
public:
    explicit TrackBar(QWidget* parent = nullptr);

signals:
    // The mouse let go of the slider; its position is final.
    void released();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace veltra
