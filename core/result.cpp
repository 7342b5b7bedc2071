#include "core/result.h"

namespace qef {

const char* DescribeResult(int32_t code) {
  switch (code) {
    case kOk: return "success";
    case kFailed: return "a file or folder is missing, could not be created or changed, or the archive ends early";
    case kAttachFailed: return "internal error: a stream could not be opened";
    case kNotReady: return "internal error: used before it was set up";
    case kBadArgument: return "invalid argument or folder path";
    case kCancelled: return "cancelled";
    case kUnsupported: return "unsupported archive kind, cipher or compression";
    case kWrongDirection: return "internal error: stream used in the wrong direction";
    case kOutOfMemory: return "out of memory, or the archive asks for an impossible size";
    case kContainerMissing: return "the archive file does not exist";
    case kCannotOpen: return "a file could not be opened or created";
    case kShortWrite: return "a file could not be written completely (disk full?)";
    case kShortRead: return "the archive is truncated";
    case kEmptyPath: return "no archive path given";
    case kCannotDeleteFile: return "a file could not be deleted";
    case kFolderMissing: return "a folder does not exist";
    case kTargetMissing: return "the target folder does not exist or cannot be searched";
    case kCannotRemoveFolder: return "a folder could not be removed";
    case kCannotCreateParent: return "a parent folder could not be created";
    case kUnsafeName:
      return "an item's name is unsafe: it leads outside the target folder, or names a device, a stream or characters "
             "Windows refuses";
    case kBadMagic: return "not an archive of this format, or an unknown cipher";
    case kOldFormat: return "an older archive format that is not supported";
    case kBadChunk: return "the archive data is damaged";
    case kBadChecksum: return "the archive is damaged: an item does not match its checksum";
    case kBadCompression: return "unknown compression setting";
    case kCipherRefused: return "the archive data is damaged or the cipher refused it";
    case kUnknownCipher: return "unknown cipher";
    case kCipherUnavailable: return "cipher not available";
    case kBadVector: return "invalid initialisation vector";
    case kBadLength: return "encrypted data of an invalid length";
    case kWrongPassword: return "wrong password";
    default: return "unexpected error";
  }
}

}  // namespace qef
