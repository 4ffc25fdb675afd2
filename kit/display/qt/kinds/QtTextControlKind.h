// A text control (BTextControl): a label and a one-line text field.
#pragma once

#include "QtViewKind.h"

class QLabel;
class QLineEdit;

namespace BPrivate {

struct TextControlRec : ViewRec {
	QLabel* label = nullptr;
	QLineEdit* edit = nullptr;
};

} // namespace BPrivate
