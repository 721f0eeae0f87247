#ifndef SITESTYLE_H
#define SITESTYLE_H

#include <QColor>
#include <QLineEdit>
#include <QPalette>
#include <QString>

// The site window's colours and style sheets, in one place. Light
// backgrounds with the text kept black: the states read the same without
// them.
namespace siteStyle
{
inline QColor problem()
{
    return QColor(0xf6, 0xcf, 0xcf);
}
inline QColor active()
{
    return QColor(0xd6, 0xe6, 0xfa);
}
inline QColor nextModule()
{
    return QColor(0xff, 0xdf, 0x80);
}
inline QColor good()
{
    return QColor(0xcf, 0xec, 0xd4);
}
inline QColor bad()
{
    return problem();
}
// A cell the module holds otherwise than planned.
inline QColor differs()
{
    return QColor(0xff, 0xc8, 0x8a);
}

// A field whose text cannot be used.
inline QString problemLineEdit()
{
    return QStringLiteral("QLineEdit { background: #f6cfcf; color: black; }");
}
// A field whose text cannot be used, marked by its colours (a style sheet
// set and taken away again before the field is first shown would leave
// its colour behind).
inline void markProblem(QLineEdit *edit, bool problem)
{
    QPalette colours;
    if (problem) {
        colours = edit->parentWidget() ? edit->parentWidget()->palette() : edit->palette();
        colours.setColor(QPalette::Base, QColor(0xf6, 0xcf, 0xcf));
        colours.setColor(QPalette::Text, Qt::black);
    }
    edit->setPalette(colours);
}
// The notice above the table (what a plan file held that the table cannot).
inline QString notice()
{
    return QStringLiteral("QLabel { background: #fff4ce; color: black; padding: 4px; }");
}
// The line beside the buttons while it counts problems.
inline QString problemsText()
{
    return QStringLiteral("QLabel { color: #a01010; }");
}
} // namespace siteStyle

#endif // SITESTYLE_H
