#include "core/check/verdict_sentence.h"

#include <cerrno>
#include <cstring>

namespace vorn {

namespace {

std::string OpenErrorWhy(int error) {
    switch (error) {
    case 0:
        return "it cannot be opened";
    case ENOENT:
    case ENOTDIR:
        return "it no longer exists";
    case EACCES:
    case EPERM:
        return "there is no permission to read it";
    case EISDIR:
        return "it is a folder that cannot be read or entered";
    case ENXIO:
        return "it is not a regular file but a named pipe, device or socket";
    case ELOOP:
        return "it is a link that leads nowhere or into a loop";
    case ENODEV:
        return "it lies on a kernel pseudo file system, where no photo is kept";
    case EBUSY:
        return "it is in use: another program holds it locked for writing";
    case ENAMETOOLONG:
        return "its name is too long for the system";
    case EIO:
        return "the storage reports an input/output error";
    default:
        break;
    }
    return std::string("the system says: ") + std::strerror(error);
}

// " (at byte N)" unless the reason already names that byte.
std::string AtByte(const DeepCheckResult& deep) {
    if (!deep.offset ||
        deep.reason.find("byte " + std::to_string(*deep.offset)) != std::string::npos) {
        return "";
    }
    return " (at byte " + std::to_string(*deep.offset) + ")";
}

std::string PictureSentence(const FileResult& result, const DeepCheckResult& deep) {
    switch (deep.verdict) {
    case DeepVerdict::Sound:
        if (deep.reason.empty()) {
            return "The picture decodes without a fault.";
        }
        return "The picture decodes without a fault; it is " + deep.reason + AtByte(deep) +
               ", which is not damage.";
    case DeepVerdict::Damaged:
        return "The picture is damaged: " + deep.reason + AtByte(deep) +
               "; from there on it cannot be decoded correctly.";
    case DeepVerdict::Unverified:
        return "The picture was not verified: " + deep.reason + AtByte(deep) + ".";
    case DeepVerdict::Unreadable:
        break;
    }
    if (deep.reason.empty()) {
        return "The file cannot be opened: " + OpenErrorWhy(result.openError) + ".";
    }
    return "The picture could not be read: " + deep.reason + ".";
}

} // namespace

std::string UncheckedSentence() {
    return "Not checked yet.";
}

std::string VerdictSentence(const FileResult& result) {
    if (result.deep) {
        return PictureSentence(result, *result.deep);
    }
    switch (result.verdict) {
    case MarkerVerdict::Normal:
        return "The file starts with the start marker FF D8 and ends with the end marker FF D9.";
    case MarkerVerdict::Soi:
        return "The file does not start with the start marker FF D8: it is not a JPEG file, or "
               "its start is damaged.";
    case MarkerVerdict::Eoi:
        if (result.detail.empty()) {
            return "The file does not end with the end marker FF D9.";
        }
        return "The file does not end with the end marker FF D9: " + result.detail + ".";
    case MarkerVerdict::OpenError:
        break;
    }
    return "The file cannot be opened: " + OpenErrorWhy(result.openError) + ".";
}

} // namespace vorn
