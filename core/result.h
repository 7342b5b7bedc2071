#pragma once
// The system's result codes: 0 for success, otherwise one of these positive numbers.
// A code passes up unchanged from the layer that found the fault; native errors
// (errno, GetLastError, OpenSSL's queue) may go into a message but never replace it.
#include <cstdint>

namespace qef {

enum : int32_t {
  kOk = 0,
  kFailed = 1,                // the thing to work on does not exist, a folder could not be made,
                              // attributes could not be set, the container ends inside the
                              // password check value, an item was read without a base folder,
                              // or an item's properties are not a List
  kAttachFailed = 10,         // a filter stream could not be opened on its next stream
  kNotReady = 11,             // closed stream, missing next stream, cipher not set up, engine not prepared
  kBadArgument = 30,          // null or empty argument, or a text that is not a usable folder path
  kCancelled = 40,            // the progress callback asked to stop (the user cancelled)
  kUnsupported = 50,          // unknown container kind, or a cipher or compression setting not usable
  kWrongDirection = 60,       // a stream used against its direction, or an invalid mode
  kOutOfMemory = 101,         // a buffer or a size read from a file could not be allocated
  kContainerMissing = 201,    // the container file does not exist
  kCannotOpen = 204,          // a file could not be opened or created
  kShortWrite = 205,          // fewer bytes written than asked (a full disk)
  kShortRead = 208,           // a file ended before the bytes asked for
  kEmptyPath = 209,           // an empty container path
  kCannotDeleteFile = 210,    // deleting a file failed
  kFolderMissing = 220,       // a folder that should exist does not
  kTargetMissing = 221,       // the target or base folder does not exist, or a folder search failed
  kCannotRemoveFolder = 230,  // removing a folder failed
  kCannotCreateParent = 234,  // a parent folder could not be created
  kUnsafeName = 240,          // an item's name leads outside the target folder
  kBadMagic = 310,            // the header's magic is wrong, or its cipher id is not 0 or 2
  kOldFormat = 312,           // an older container format (the magic stands in plain at the start)
  kBadChunk = 600,            // a compressed or encrypted chunk is malformed, or its zlib stream does not inflate
  kBadCompression = 601,      // the compression setting is above 2
  kBadChecksum = 610,         // an item does not match its checksum, or its checksum record is missing
  kCipherRefused = 700,       // the cipher layer refused: key set-up, direction, or an oversized length block
  kUnknownCipher = 701,       // a cipher id other than 0, 1 and 2
  kCipherUnavailable = 702,   // cipher id 1, or an unsupported block size
  kBadVector = 705,           // the initialisation vector is not a Blob of the block size
  kBadLength = 706,           // a data length that is not a multiple of the block size
  kWrongPassword = 711,       // the password does not match the container's check value
};

// A short plain-English meaning of a code, for messages; never null.
const char* DescribeResult(int32_t code);

}  // namespace qef
