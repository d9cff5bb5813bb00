#include "window/listwidgettool.h"

#include <QKeyEvent>

ListWidgetTool::ListWidgetTool(QWidget *parent)
    : QListWidget(parent)
{
}

void ListWidgetTool::keyPressEvent(QKeyEvent *event)
{
    QListWidget::keyPressEvent(event);
    lastKey = event->key();
}

void ListWidgetTool::keyReleaseEvent(QKeyEvent *event)
{
    QListWidget::keyReleaseEvent(event);
    if (event->key() != lastKey)
        return;
    lastKey = 0;
    if (event->key() == Qt::Key_Delete)
        qDeleteAll(selectedItems());
}
