// Small text helpers of the utility library.
#pragma once

// Removes white space (space, tab, LF, VT, FF, CR) from both ends of `text`
// in place and returns it. Bytes from 0x80 up (Korean text) are never white
// space.
char* trimSpace(char* text);
