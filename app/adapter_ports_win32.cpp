#include <QSettings>
#include <algorithm>

#include "app/adapter_ports.h"

namespace korvel::app {

std::vector<AdapterPort> ListAdapterPorts(const std::string&) {
    // The system's list of serial ports present: driver name to COM name.
    const QSettings map(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"),
                        QSettings::NativeFormat);
    std::vector<AdapterPort> ports;
    for (const QString& key : map.allKeys()) {
        const std::string com = map.value(key).toString().toStdString();
        ports.push_back({com, key.section(QLatin1Char('\\'), -1).toStdString(), {}, {}});
    }
    std::ranges::sort(ports, {}, &AdapterPort::device);
    return ports;
}

}  // namespace korvel::app
