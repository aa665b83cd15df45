// The one error class of the table layer: an engine error number and a text
// that names the file and says what went wrong.
#pragma once

#include <stdexcept>
#include <string>

// Error numbers, grouped as the engine groups them.
enum AdsErrorCode : int {
    AE_FILE_NOT_FOUND = 5004,   // a table or index file is missing
    AE_FILE_OPEN_FAILED = 5005, // the operating system refused the open
    AE_LOCK_FAILED = 5006,      // another user holds the table
    AE_READ_FAILED = 5007,
    AE_WRITE_FAILED = 5008,
    AE_CORRUPT_TABLE = 5010, // a DBF header or record area that makes no sense
    AE_CORRUPT_INDEX = 5011, // an NTX or CDX header or page that makes no sense
    AE_CREATE_FAILED = 5012,
    AE_BAD_FIELD_LIST = 5013,
    AE_COLUMN_NOT_FOUND = 5014, // a field name the table lacks
    AE_EXPRESSION_ERROR = 5015, // an expression that does not parse or does not fit the table
    AE_TAG_NOT_FOUND = 5016,
    AE_TABLE_NOT_OPEN = 5017,
    AE_TABLE_IS_OPEN = 5018, // "Cannot perform this operation on an open dataset"
    AE_NOT_EXCLUSIVE = 5019, // pack of a table not opened exclusively
    AE_NO_CURRENT_RECORD = 5020,
    AE_READ_ONLY = 5021,
    AE_INVALID_VALUE = 5022,
    AE_NO_INDEX = 5023,
    AE_NOT_A_FILE = 5024,     // a pipe, a device or a folder where a table or index should be
    AE_ACCESS_DENIED = 5025,  // the system's permissions refuse the file
    AE_AMBIGUOUS_NAME = 5026, // two files are one table's name in different letter case
};

// True for the errors of a file that another program holds, or that is not
// there this moment: an open that fails with one of them may succeed when
// tried again. Damage, a file of the wrong kind and missing permissions do
// not pass by themselves.
inline bool IsPassingOpenError(int number) {
    return number == AE_LOCK_FAILED || number == AE_FILE_OPEN_FAILED || number == AE_FILE_NOT_FOUND;
}

// True for the errors of a file whose contents make no sense: a damaged
// table or index, or something that is no table at all.
inline bool IsDamageError(int number) {
    return number == AE_CORRUPT_TABLE || number == AE_CORRUPT_INDEX || number == AE_NOT_A_FILE;
}

class EADSDatabaseError : public std::runtime_error {
  public:
    EADSDatabaseError(int number, const std::string& text)
        : std::runtime_error(text), number_(number) {}
    int Number() const { return number_; }

  private:
    int number_;
};
