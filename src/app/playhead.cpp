#include "app/playhead.h"

#include <QPainter>

#include <algorithm>

void drawPlayhead(QPainter &painter, int x, int top, int bottom)
{
    painter.fillRect(QRect(x - 1, top, 3, bottom - top + 1), QColor(32, 32, 32));
    painter.fillRect(QRect(x, top, 1, bottom - top + 1), Qt::white);
}

PlayheadLine::PlayheadLine(QWidget *label) : QWidget(label)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(label->rect());
    hide();
}

void PlayheadLine::setX(int x)
{
    if (x == m_x)
        return;
    // Only the old and the new line's pixels need drawing again.
    if (m_x >= 0)
        update(m_x - 1, 0, 3, height());
    m_x = x;
    setVisible(x >= 0);
    if (x >= 0) {
        raise();
        update(x - 1, 0, 3, height());
    }
}

void PlayheadLine::paintEvent(QPaintEvent *)
{
    if (m_x < 0)
        return;
    QPainter painter(this);
    drawPlayhead(painter, m_x, 0, height() - 1);
}

int steppedPicture(std::span<const double> times, int from, int direction, bool bySecond)
{
    const int count = int(times.size());
    if (count == 0)
        return -1;
    from = std::clamp(from, 0, count - 1);
    const int last = direction > 0 ? count - 1 : 0;
    const double origin = times[size_t(from)];
    if (!bySecond || origin < 0)
        return std::clamp(from + direction, 0, count - 1);
    // Times are rounded: a second short of a microsecond still counts.
    for (int i = from + direction; i != last + direction; i += direction) {
        const double time = times[size_t(i)];
        if (time >= 0 && (time - origin) * direction >= 1.0 - 1e-6)
            return i;
    }
    return last;
}
