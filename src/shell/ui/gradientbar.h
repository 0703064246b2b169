// The bar of a S.M.A.R.T. attribute row: a filled part over a background, each a
// vertical colour gradient, inside a one-pixel border.
#pragma once

#include <QColor>
#include <QWidget>

class TGradientBar : public QWidget {
    Q_OBJECT

public:
    enum ColorScheme { csGrass };

    explicit TGradientBar(QWidget* parent = nullptr);

    int Minimum() const { return min_; }
    int Maximum() const { return max_; }
    int Position() const { return pos_; }
    void SetMinimum(int v);
    void SetMaximum(int v);
    void SetPosition(int v);
    void SetColorScheme(ColorScheme scheme);

    QColor BorderColor, BackColorFace, BackColorGradient, ForeColorFace, ForeColorGradient;

    // Width in pixels of the filled part for an inner width.
    int FilledWidth(int innerWidth) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int min_ = 0, max_ = 100, pos_ = 0;
};
