#ifndef SETTINGSMAPPING_H
#define SETTINGSMAPPING_H

#include "protocol/parameters.h"

#include <QList>
#include <QString>

class setting_module;

// Which field of a settings file holds which parameter of the module: the one
// mapping between a file and a parameter set, used by the window's file
// commands and by ordan-cli. A file holds the eight parameters the write
// sends; the choices (parity, speed, stop bits) as positions in their lists
// (protocol.h's choicePosition), 0 for none.
namespace settingsmapping
{

using parameters::Values;

// The parameters a settings file holds, in the order of writeOrder().
QList<ModuleField> settingsFields();

// A text parameter in the file; empty for a choice or a parameter the file
// does not hold.
QString settingsText(const setting_module &file, ModuleField field);
// A choice in the file as its list position, as stored (it may lie outside
// the list); 0 for a text parameter or one the file does not hold.
int settingsPosition(const setting_module &file, ModuleField field);
// Set a text parameter or a choice's position, as given; nothing for a
// parameter the file does not hold (or of the other kind).
void setSettingsText(setting_module *file, ModuleField field, const QString &text);
void setSettingsPosition(setting_module *file, ModuleField field, int position);

// The parameters a settings file gives: non-empty texts and chosen list
// positions (an empty text, position 0 or one outside the list gives
// nothing).
Values fromSettings(const setting_module &file);
// Fills the parameters of a settings file from values (missing ones empty,
// a word that is not in its list position 0).
void toSettings(const Values &values, setting_module *file);

// The parameters of the settings file at `path`, as a base for a write
// (fromSettings). False, with the reason in *error, when the file cannot be
// read, holds none of the keys of a parameter set, or holds a list
// position that its list does not have.
bool loadSettingsFile(const QString &path, Values *values, QString *error);

} // namespace settingsmapping

#endif // SETTINGSMAPPING_H
