#pragma once

class QWidget;

// The form's fixed geometry was drawn for one font; with another, some texts
// are cut. Gives every label and check box under `form` whose text does not
// fit its width, in the font it uses now, a tool tip with the whole text.
void showClippedTextsInToolTips(QWidget *form);
