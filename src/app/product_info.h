#pragma once

#include <QString>

// The maker's lines of the About box and the homepage; set when the build
// is configured (YURAGI_COPYRIGHT_LINE, YURAGI_CONTACT_ADDRESS, YURAGI_HOMEPAGE_URL).
extern const QString CopyrightLine;
extern const QString ContactAddress;
extern const QString HomePageUrl;
