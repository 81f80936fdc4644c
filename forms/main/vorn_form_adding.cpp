// Adding files and folders to the list.

#include "forms/main/vorn_form.h"

void TVornForm::AddFiles(const std::vector<std::string>& paths)
{
    (void)paths;
}

void TVornForm::AddPath(const std::string& path)
{
    (void)path;
}

void TVornForm::AddFolder(const std::string& path)
{
    (void)path;
}

void TVornForm::SuspendListRedraw() {}

void TVornForm::ResumeListRedraw() {}

void TVornForm::ProcessCommandLine(const std::vector<std::string>& parameters)
{
    (void)parameters;
    show();
}

void TVornForm::DropDstFileDrop(QObject* sender, const std::vector<std::string>& files,
                                std::int32_t x, std::int32_t y)
{
    (void)sender;
    (void)files;
    (void)x;
    (void)y;
}
