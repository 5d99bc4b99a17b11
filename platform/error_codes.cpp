// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/error_codes.h"

#include <cerrno>

namespace norvo {

ErrorCode ErrorFromErrno(int errno_value) {
  switch (errno_value) {
    case 0: return err::kNone;
    case ENOENT: return err::kFileNotFound;
    case ENOTDIR: return err::kFolderNotFound;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return err::kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return err::kPermission;
    case EEXIST: return err::kDuplicateName;
    case ENAMETOOLONG: return err::kBadName;
    case ENOMEM: return err::kOutOfMemory;
    case EBADF: return err::kBadFileNumber;
    case EINVAL: return err::kParam;
    case ENODEV:
    case ENXIO: return err::kNoSuchVolume;
    case EBUSY: return err::kFileBusy;
    default: return err::kIo;
  }
}

}  // namespace norvo
