#ifndef SETTINGSMAPPING_H
#define SETTINGSMAPPING_H

#include "protocol/parameters.h"

class setting_module;

// The way of a parameter set into and out of a settings file.
namespace parameters
{

// The parameters a settings file gives: non-empty texts and chosen list
// positions (an empty text or position 0 gives nothing).
Values fromSettings(const setting_module &file);
// Fills the parameters of a settings file from values (missing ones empty).
void toSettings(const Values &values, setting_module *file);

} // namespace parameters

#endif // SETTINGSMAPPING_H
