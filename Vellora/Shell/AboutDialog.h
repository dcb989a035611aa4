#pragma once

#include "Vellora/Paper/PaperDialog.h"

#include <functional>

// "About Vellora": the icon, the name, the version, the licence, the website and the handwriting font's licence,
// on paper in the window's scheme.
class AboutDialog : public PaperDialog
{
    Q_OBJECT

public:
    // The licence line; the one place to change once the licence is chosen.
    static constexpr auto kLicence = "Licence: to be announced with the first public release.";
    static constexpr auto kFontLicence =
        "The handwriting is Caveat, © 2014 The Caveat Project Authors, under the SIL Open Font License 1.1.";

    // openLink hands the website's address on, the way the app opens addresses.
    AboutDialog(const QString &website, std::function<void(const QString &)> openLink, QWidget *parent = nullptr);
};
