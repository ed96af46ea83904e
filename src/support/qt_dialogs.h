// The options dialog and the error dialog on Qt: built as designed, their
// buttons run the dialogs' procedures, shown modally over the main window.
#pragma once

class QWidget;

namespace velmora {

class FrmOptions;
class FrmError;

// Shows frmOptions modally until Close (or Enter, Esc) hides it or the
// window's close box unloads it.
void execOptionsDialog(FrmOptions& model, QWidget* parent);

// Shows frmError modally until one of its buttons (or Esc, the close box)
// unloads it.
void execErrorDialog(FrmError& model, QWidget* parent);

}  // namespace velmora
