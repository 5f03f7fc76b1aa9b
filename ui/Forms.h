#pragma once
// The program's windows: one instance of each, created at start-up in this order and kept until
// the program ends. The windows reach each other through these pointers; none of them is set
// while the main window is being constructed.

namespace tarnwick::ui {

class TForm1;             // main window (Unit1)
class TfrmFolder;         // folder dialog (Ffolder)
class TTfrmFolderBrowse;  // folder browser (Ffolderbrowse)
class TfrmAbout;          // About window (Fabout)
class TForm2;             // log window (Flog)

extern TForm1* Form1;
extern TfrmFolder* frmFolder;
extern TTfrmFolderBrowse* TfrmFolderBrowse;
extern TfrmAbout* frmAbout;
extern TForm2* Form2;

}  // namespace tarnwick::ui
