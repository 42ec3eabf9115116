// The playhead: a thin line over the strips and the overview at the picture
// the preview shows, and the pictures Left and Right step to.
#pragma once

#include <QWidget>

#include <span>

class QPainter;

// A white line one pixel wide with a dark pixel on either side, so that it
// shows on any colour, from top to bottom (both included) at x.
void drawPlayhead(QPainter &painter, int x, int top, int bottom);

// A line drawn over a label's own picture: a child that covers the label and
// lets every mouse event through, so the picture itself stays as it is.
class PlayheadLine : public QWidget
{
public:
    explicit PlayheadLine(QWidget *label);
    // Where the line stands in the label's coordinates; negative hides it.
    void setX(int x);
    int x() const { return m_x; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_x = -1;
};

// The picture a step from picture from (index into times, seconds,
// negative when unknown) reaches: the next (direction 1) or previous
// (direction -1) one, or with bySecond the first at least a second away by
// the pictures' times; clamped to the first and last picture. A picture
// without a time steps by one. -1 when times is empty.
int steppedPicture(std::span<const double> times, int from, int direction, bool bySecond);
