// Error model of the engine: the message table, the location texts of the
// public operations, and error4report, which records an error in its context,
// prints the report on the standard error stream (never the standard output,
// so a report cannot mix into a CGI page) and ends the process for the fatal
// codes.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "engine/code4.h"
#include "engine/engine_core.h"
#include "engine/error4_internal.h"

namespace {

struct Message {
  int code;
  const char* text;
};

// Searched in this order; the first entry with the code wins; code 0 ends it.
const Message kMessages[] = {
    {-10, "Closing File"},
    {-20, "Creating File"},
    {-30, "Determining File Length"},
    {-40, "Setting File Length"},
    {-50, "Locking File"},
    {-60, "Opening File"},
    {-61, "Permission Error Opening File"},
    {-62, "Access Error Opening File"},
    {-63, "File Handle Count Overflow Error Opening File"},
    {-64, "File Find Error Opening File"},
    {-69, "Duplicate Instance Found Error Opening File"},
    {-70, "Reading File"},
    {-80, "Removing File"},
    {-90, "Renaming File"},
    {-110, "Unlocking File"},
    {-120, "Writing to File"},
    {-200, "File is not a Data File"},
    {-210, "Unrecognized Field Name"},
    {-220, "Unrecognized Field Type"},
    {-230, "Record Length is too Large"},
    {-240, "Record Append Attempt Past End of File"},
    {-250, "Attempt to perform a d4seekDouble() on non-numeric tag"},
    {-300, "Tag Entry Missing"},
    {-310, "Not a Correct Index File"},
    {-330, "Tag Name not Found"},
    {-340, "Unique Key Error"},
    {-350, "Tag Information Invalid"},
    {-360, "Candidate Key Error"},
    {-400, "Comma or Bracket Expected"},
    {-410, "Expression not Complete"},
    {-420, "Data File Name not Located"},
    {-422, "IIF() Needs Parameters of Same Length"},
    {-425, "SUBSTR() and STR() need Constant Parameters"},
    {-430, "Number of Parameters is Wrong"},
    {-440, "Overflow while Evaluating Expression"},
    {-450, "Right Bracket Missing"},
    {-460, "Sub-expression Type is Wrong"},
    {-470, "Unrecognized Function"},
    {-480, "Unrecognized Operator"},
    {-490, "Unrecognized Value"},
    {-500, "Unterminated String"},
    {-510, "Expression Invalid for Tag"},
    {-610, "Optimization Error"},
    {-620, "Optimization Removal Failure"},
    {-630, "Optimization File Flushing Failure"},
    {-720, "Matching Slave Record Not Located"},
    {-710, "Relation Error"},
    {-730, "Relation Referred to Does Not Exist or is Not Initialized"},
    {-810, "Report Error"},
    {-811, "Error Creating Style"},
    {-812, "Error Selecting Style"},
    {-813, "Error Finding Style"},
    {-814, "Error Creating Area"},
    {-815, "Error Creating Group"},
    {-816, "Error Setting Group Reset-Expression"},
    {-817, "Error Creating Total"},
    {-818, "Error Creating Object"},
    {-819, "Error In Windows Output"},
    {-820, "Error In Report Output"},
    {-821, "Error Saving Report"},
    {-822, "Error Retrieving Report"},
    {-823, "Error In Sending Report to Data File"},
    {-910, "Unexpected Information"},
    {-920, "Out of Memory"},
    {-930, "Unexpected Parameter"},
    {-935, "Null Input Parameter unexpected"},
    {-950, "Unexpected Result"},
    {-960, "Structure Verification Failure"},
    {-970, "Data Structure Corrupt or not Initialized"},
    {-1010, "Function unsupported: library compiled with S4OFF_INDEX"},
    {-1020, "Function unsupported: library compiled with S4OFF_MEMO"},
    {-1030, "Function unsupported: library compiled with S4NO_RENAME"},
    {-1040, "Function unsupported: library compiled with S4OFF_WRITE"},
    {-1050, "Function unsupported: library not compiled with S4CLIPPER"},
    {-1060, "Function unsupported: library not compiled with S4LOCK_HOOK"},
    {-1090, "Function unsupported"},
    {-1095, "Application/Library version mismatch"},
    {-1110, "Memo File Corrupt"},
    {-1120, "Error Creating Memo File"},
    {-1200, "Transaction Violation Error"},
    {-1210, "Transaction Error"},
    {-1220, "Transaction Rollback Failure"},
    {-1230, "Transaction Commit Failure"},
    {-1240, "Error Appending Information to Log File"},
    {-1250, "Transaction state confliction"},
    {-1300, "Communication Information Corrupt"},
    {-1310, "Connection Failure"},
    {-1320, "Socket Failure"},
    {-1330, "Network Failure"},
    {-1340, "Failure Loading Communication DLL"},
    {-1350, "Network Timed Out"},
    {-1360, "Communication Message Corrupt"},
    {-1370, "Communication Packet Length Mismatch"},
    {-1380, "Communication Packet Corrupt"},
    {-1390, "system-level communication failure"},
    {-1400, "Pemtrix Capabilities Exceeded (system maxed out)"},
    {-1420, "Name not Found error"},
    {-1430, "Authorization Error (access denied)"},
    {-1440, "Invalid User ID Authorization Error (access denied)"},
    {-1450, "Invalid Password Authorization Error (access denied)"},
    {-1460, "Invalid TCP Address access Authorization Error (access denied)"},
    {-1470,
     "Server is not accepting any new connections at this time - contact System Administrator "
     "for details"},
    {-2100, "Server Failure"},
    {-2110, "Server Configuration Failure"},
    {0, nullptr},
};

struct Location {
  long number;
  const char* text;
};

// Names of the public operations by location number.
const Location kLocations[] = {
    {LOC4code4init, "code4init"},
    {LOC4code4initUndo, "code4initUndo"},
    {LOC4code4closeAll, "code4closeAll"},
    {LOC4code4indexFormat, "code4indexFormat"},
    {LOC4code4dateFormatSet, "code4dateFormatSet"},
    {LOC4d4create, "d4create"},
    {LOC4d4open, "d4open"},
    {LOC4d4close, "d4close"},
    {LOC4d4field, "d4field"},
    {LOC4d4fieldJ, "d4fieldJ"},
    {LOC4d4fieldNumber, "d4fieldNumber"},
    {LOC4d4append, "d4append"},
    {LOC4d4appendStart, "d4appendStart"},
    {LOC4d4go, "d4go"},
    {LOC4d4goEof, "d4goEof"},
    {LOC4d4top, "d4top"},
    {LOC4d4bottom, "d4bottom"},
    {LOC4d4skip, "d4skip"},
    {LOC4d4write, "d4write"},
    {LOC4d4flush, "d4flush"},
    {LOC4d4update, "d4update"},
    {LOC4d4changed, "d4changed"},
    {LOC4d4recCount, "d4recCount"},
    {LOC4d4lock, "d4lock"},
    {LOC4d4lockAppend, "d4lockAppend"},
    {LOC4d4lockFile, "d4lockFile"},
    {LOC4d4lockAll, "d4lockAll"},
    {LOC4d4unlock, "d4unlock"},
    {LOC4code4unlock, "code4unlock"},
    {LOC4d4blank, "d4blank"},
    {LOC4d4readOld, "d4readOld"},
    {LOC4f4assign, "f4assign"},
    {LOC4f4assignN, "f4assignN"},
    {LOC4f4ncpy, "f4ncpy"},
    {LOC4f4str, "f4str"},
    {LOC4f4blank, "f4blank"},
    {LOC4f4len, "f4len"},
    {LOC4f4true, "f4true"},
    {LOC4f4assignInt, "f4assignInt"},
    {LOC4f4int, "f4int"},
    {LOC4f4assignLong, "f4assignLong"},
    {LOC4f4long, "f4long"},
    {LOC4f4assignChar, "f4assignChar"},
    {LOC4f4dateTime, "f4dateTime"},
    {LOC4f4memoAssign, "f4memoAssign"},
    {LOC4f4memoLen, "f4memoLen"},
    {LOC4f4memoStr, "f4memoStr"},
    {LOC4file4open, "file4open"},
    {LOC4file4create, "file4create"},
    {LOC4file4read, "file4read"},
    {LOC4file4write, "file4write"},
    {LOC4file4lock, "file4lock"},
    {LOC4file4unlock, "file4unlock"},
    {LOC4file4close, "file4close"},
    {LOC4file4len, "file4len"},
    {LOC4file4lenSet, "file4lenSet"},
    {LOC4file4flush, "file4flush"},
    {LOC4file4temp, "file4temp"},
    {LOC4file4seqWrite, "file4seqWrite"},
    {LOC4file4seqRead, "file4seqRead"},
    {LOC4memo4fileCreate, "memo4fileCreate"},
    {LOC4memo4fileRead, "memo4fileRead"},
    {LOC4memo4fileWrite, "memo4fileWrite"},
};

const char kUnknown[] = "Invalid or Unknown Error Code";

bool IsFatal(int code) {
  return code == e4info || code == e4memory || code == e4result || code == e4struct;
}

// The whole report is built first and written with one call, so that two
// processes reporting at once do not interleave their lines.
std::string FormatReport(int errCode, long location, const char* locationText, const char* s1,
                         const char* s2, const char* s3) {
  std::string out = "\n\nError Number";
  char line[64];
  std::snprintf(line, sizeof line, "  %d, %ld \r\n", errCode, location);
  out += line;
  out += error4text(errCode);
  out += "\r\n";
  out += locationText != nullptr ? locationText : kUnknown;
  out += "\r\n";
  const char* texts[3] = {s1, s2, s3};
  for (const char* text : texts) {
    if (text == nullptr) break;
    out += "\r\r\n";
    out += text;
  }
  out += "\r\r\n";
  return out;
}

}  // namespace

const char* error4text(int errCode) {
  for (const Message* m = kMessages; m->code != 0; ++m)
    if (m->code == errCode) return m->text;
  return kUnknown;
}

const char* error4locationText(long location) {
  for (const Location& l : kLocations)
    if (l.number == location) return l.text;
  return kUnknown;
}

int error4reportAt(CODE4* c4, int errCode, long location, const char* locationText,
                   const char* s1, const char* s2, const char* s3) {
  bool silent = false;
  if (c4 != nullptr) {
    c4->lastError = errCode;
    silent = c4->errorsSilent != 0;
  }
  if (!silent && errCode != 0) {
    try {
      std::string report = FormatReport(errCode, location, locationText, s1, s2, s3);
      std::fwrite(report.data(), 1, report.size(), stderr);
    } catch (const std::exception&) {
      // No memory for the whole report: at least its first lines.
      std::fprintf(stderr, "\n\nError Number  %d, %ld \r\n%s\r\n", errCode, location, error4text(errCode));
    }
    std::fflush(stderr);
  }
  if (c4 != nullptr) {
    c4->lastError = errCode;
    c4->lastErrorLocation = location;
  }
  if (IsFatal(errCode)) {
    int status = c4 != nullptr ? c4->lastError : -1;
    if (c4 != nullptr) engine4::code4shutDown(c4, false);
    std::exit(status);
  }
  return errCode;
}

int error4report(CODE4* c4, int errCode, long location, const char* s1, const char* s2,
                 const char* s3) {
  return error4reportAt(c4, errCode, location, error4locationText(location), s1, s2, s3);
}

int error4code(CODE4* c4) { return c4 != nullptr ? c4->lastError : 0; }

int error4set(CODE4* c4, int newCode) {
  if (c4 == nullptr) return 0;
  int old = c4->lastError;
  c4->lastError = newCode;
  return old;
}
