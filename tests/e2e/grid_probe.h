// The plug-in's grid as a test sees it from outside: only what the grid exposes
// through its meta-object (properties and invokable accessors), never its classes.
#pragma once

#include <QAbstractScrollArea>
#include <QMetaObject>
#include <QPoint>
#include <QRect>
#include <QString>

namespace qadj::testing {

struct Grid {
  QAbstractScrollArea* w = nullptr;
  int rows() const { return w->property("rowCount").toInt(); }
  int columns() const { return w->property("columnCount").toInt(); }
  int focusedRow() const { return w->property("focusedRow").toInt(); }
  bool editorVisible() const { return w->property("editorVisible").toBool(); }
  int column(const char* field) const {
    int c = -1;
    QMetaObject::invokeMethod(w, "columnOfField", Q_RETURN_ARG(int, c),
                              Q_ARG(QString, QString::fromLatin1(field)));
    return c;
  }
  QString text(int row, int column) const {
    QString t;
    QMetaObject::invokeMethod(w, "cellText", Q_RETURN_ARG(QString, t), Q_ARG(int, row),
                              Q_ARG(int, column));
    return t;
  }
  QString footer(int column) const {
    QString t;
    QMetaObject::invokeMethod(w, "footerText", Q_RETURN_ARG(QString, t), Q_ARG(int, column));
    return t;
  }
  // Where a cell or header is on the screen.
  QPoint cell(int row, int column) const {
    return w->viewport()->mapToGlobal(cellInViewport(row, column));
  }
  QPoint header(int column) const {
    QRect r;
    QMetaObject::invokeMethod(w, "headerRect", Q_RETURN_ARG(QRect, r), Q_ARG(int, column));
    return w->viewport()->mapToGlobal(r.center());
  }
  QString caption(int column) const {
    QString t;
    QMetaObject::invokeMethod(w, "columnCaption", Q_RETURN_ARG(QString, t), Q_ARG(int, column));
    return t;
  }
  // Where a cell is in the grid's viewport, for QTest's events.
  QPoint cellInViewport(int row, int column) const {
    QRect r;
    QMetaObject::invokeMethod(w, "cellRect", Q_RETURN_ARG(QRect, r), Q_ARG(int, row),
                              Q_ARG(int, column));
    return r.center();
  }
  // The display row whose cell of field shows value; -1 when none does.
  int row(const char* field, const QString& value) const {
    for (int r = 0; r < rows(); ++r)
      if (text(r, column(field)) == value) return r;
    return -1;
  }
};

}  // namespace qadj::testing
