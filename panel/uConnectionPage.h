#pragma once
// The connection panel's fields as the window hands them to the features that read or fill them
// (the bus search, the options file): the pop-up panel, its serial and Ethernet pages and the
// search pictures on them. The window owns the controls; the features only use them.

#include <QString>

class QComboBox;
class QLineEdit;
class QTabWidget;
class QWidget;
class TzPictureLabel;

struct TzConnectionPage
{
    QWidget *Panel = nullptr; // the pop-up panel that holds both pages
    QTabWidget *Pager = nullptr;
    QWidget *SerialPage = nullptr;
    QWidget *EthernetPage = nullptr;

    // The serial page: port, speed, format, module address, time-out, and its search picture.
    QComboBox *Port = nullptr;
    QComboBox *Speed = nullptr;
    QComboBox *Format = nullptr;
    QLineEdit *Address = nullptr;
    QLineEdit *Timeout = nullptr;
    TzPictureLabel *Find = nullptr;

    // The Ethernet page: the converter's address, port and wait, the line format and the module
    // address behind it, and its search picture.
    QLineEdit *Host = nullptr;
    QLineEdit *UdpPort = nullptr;
    QLineEdit *Wait = nullptr;
    QComboBox *FormatEth = nullptr;
    QLineEdit *AddressEth = nullptr;
    TzPictureLabel *FindEth = nullptr;

    bool IsEthernet() const;
    // The port selected, as the log names it: "COM12" for Windows-style names, otherwise the
    // port's own name ("/dev/ttyUSB0"). From the name selected, the one a connection opens.
    QString PortCaption() const;
};
