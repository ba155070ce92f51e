#pragma once
// Edit-box looks shared by the pages.
class QLineEdit;

// Makes an edit box editable with the system's window colours, or read-only in
// medium grey with the window colour as text colour.
void SetEditEditable(QLineEdit* edit, bool editable);
