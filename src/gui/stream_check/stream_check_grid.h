// Small helpers the stream-check window's files share: the header row and header widths of its
// two grids, and the background of a text field.
#pragma once

#include <QStringList>

class QColor;
class QLineEdit;
class QTableWidget;

namespace stream_check {

// The width a column needs to show its header text whole, margins included. Asked of the
// style with the header's own font: the header view's size hint measures a bold face, which
// these headers never show.
int HeaderWidth(const QTableWidget* grid, int column);
// The header row of a grid: kept as row 0 (hidden) and shown by the horizontal header.
void SetHeaderRow(QTableWidget* grid, const QStringList& cells);
void SetBaseColour(QLineEdit* edit, const QColor& colour);

}  // namespace stream_check
