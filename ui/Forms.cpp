#include "ui/Forms.h"

namespace tarnwick::ui {

TForm1* Form1 = nullptr;
TfrmFolder* frmFolder = nullptr;
TTfrmFolderBrowse* TfrmFolderBrowse = nullptr;
TfrmAbout* frmAbout = nullptr;
TForm2* Form2 = nullptr;

}  // namespace tarnwick::ui
