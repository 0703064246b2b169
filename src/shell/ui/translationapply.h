// Applies one language of a translation table to a window: every entry names a
// component (by object name) and a property; empty values leave it unchanged.
#pragma once

class QWidget;
namespace translation { class Table; }

// formClass: the key under which the table names the window itself.
void ApplyTranslation(QWidget& form, const translation::Table& table, int language,
                      const char* formClass = "TMainForm");
