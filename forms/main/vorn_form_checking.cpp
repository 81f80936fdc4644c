// Checking the rows of the list.

#include "forms/main/vorn_form.h"

bool TVornForm::CheckItem(int row)
{
    (void)row;
    return false;
}

void TVornForm::CheckAll() {}
