// The block map of a surface test: the drive as a grid of cells coloured by the
// worst read time in each, with a legend of counts and a tooltip per cell. A tool
// window beside the main window, so it covers nothing on the test page; it stays
// after the run and goes when the wizard starts over.
#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <memory>

#include "surface/blockmap.h"

class TBlockMapWindow : public QWidget {
    Q_OBJECT

public:
    // Repaints while the run goes, at most this often.
    static constexpr int RepaintIntervalMs = 250;

    explicit TBlockMapWindow(QWidget* owner);
    ~TBlockMapWindow() override;

    // A new run over endSector sectors: an empty map, shown beside the owner.
    void Begin(const QString& driveName, int64_t endSector);
    void Block(int64_t sector, ReadClass c, uint32_t micros);
    // The run is over: draw what it found.
    void Finish();

    const TBlockMap* Map() const { return map_.get(); }
    int Paints() const { return paints_; }
    static QColor ClassColor(int readClass);
    // The cell under a point of the widget, or -1.
    int CellAt(const QPoint& p) const;
    QString CellToolTip(int cell) const;
    QRect CellRect(int cell) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    int Columns() const;
    QRect GridRect() const;

    std::unique_ptr<TBlockMap> map_;
    QString driveName_;
    QElapsedTimer sinceRepaint_;
    int paints_ = 0;
};
