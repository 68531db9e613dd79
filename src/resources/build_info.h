// Constants fixed when the program is built.
#pragma once

extern const char BUILD_VERSION[];    // "1.17"
extern const char BUILD_TIMESTAMP[];  // month abbreviation, day, year, 24-hour time
extern const char BUILD_REVISION[];   // 40 hexadecimal digits
extern const char BUILD_WEBSITE[];    // the product web page
