#pragma once

#include <QProxyStyle>

// The application's style: the platform's own, but for the icon of the menu bar's overflow button (shown when the
// window is too narrow for its menus), which is drawn rather than read from an image. Reading it, as every menu bar
// does when it is made, loads each image-format plugin on the way to the first frame.
class PaperStyle : public QProxyStyle
{
    Q_OBJECT

public:
    QIcon standardIcon(StandardPixmap icon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};
