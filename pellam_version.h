// The version of both programs, defined once: their version resources (unpellam.rc, upgrade.rc)
// include this header, and scripts/release.sh reads it to name the release files.
#ifndef PELLAM_VERSION_H
#define PELLAM_VERSION_H

#define PELLAM_VERSION_MAJOR 1
#define PELLAM_VERSION_MINOR 0

// "1.0" and 1,0,0,0 for the resources, made from the two numbers above.
#define PELLAM_TEXT_(x) #x
#define PELLAM_TEXT(x) PELLAM_TEXT_(x)
#define PELLAM_VERSION_TEXT PELLAM_TEXT(PELLAM_VERSION_MAJOR) "." PELLAM_TEXT(PELLAM_VERSION_MINOR)
#define PELLAM_VERSION_NUMBERS PELLAM_VERSION_MAJOR, PELLAM_VERSION_MINOR, 0, 0

#endif
