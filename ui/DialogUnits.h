// Dialog units to pixels, from the dialog font's metrics, so a laid-out template keeps its
// proportions on any font and screen.
#pragma once

#include <QFont>
#include <QRect>

/// The base units of a dialog font: a horizontal dialog unit is a quarter of the font's average
/// character width, a vertical one an eighth of its character height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    [[nodiscard]] int X(int units) const { return Scale(units, m_baseX, 4); }
    [[nodiscard]] int Y(int units) const { return Scale(units, m_baseY, 8); }
    [[nodiscard]] QRect Rect(int x, int y, int width, int height) const {
        return {X(x), Y(y), X(width), Y(height)};
    }

private:
    /// units * base / divisor, rounded to the nearest pixel.
    static int Scale(int units, int base, int divisor) {
        return (units * base + divisor / 2) / divisor;
    }

    int m_baseX;
    int m_baseY;
};
