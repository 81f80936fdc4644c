// The menu commands and the list's double click.

#include "forms/main/vorn_form.h"

void TVornForm::FindError(TSearchDirection direction)
{
    (void)direction;
}

void TVornForm::MenuExitClick() {}
void TVornForm::MenuCheckAllClick() {}
void TVornForm::MenuDeleteAllClick() {}
void TVornForm::MenuPrevErrorClick() {}
void TVornForm::MenuNextErrorClick() {}
void TVornForm::MenuOpenItemClick() {}
void TVornForm::FileListViewDblClick() {}
