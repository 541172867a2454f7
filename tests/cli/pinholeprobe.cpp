// Drives a PortMapper from inside the client namespace of a router rig, one step a line read:
// "keep" or "remove". Prints each note the step gave, then a line "." to end the step.
// Arguments: description URL, port, IPv6 address, lease in seconds.
#include "address/router/portmapper.h"

#include <QString>

#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    using namespace quendle::router;
    if (argc != 5)
        return 2;
    RouterOptions options;
    options.protocols = {Protocol::Upnp};
    options.descriptionUrl = QString::fromLocal8Bit(argv[1]);
    options.forwardPorts = {static_cast<quint16>(std::stoi(argv[2]))};
    PortMapper mapper(options, std::chrono::seconds(std::stoi(argv[4])));
    mapper.setIpv6Address(QString::fromLocal8Bit(argv[3]));
    for (std::string step; std::getline(std::cin, step);) {
        const QList<MappingNote> notes = step == "keep" ? mapper.keep() : mapper.removeAll();
        for (const MappingNote& note : notes)
            std::cout << note.text.toStdString() << '\n';
        std::cout << ".\n" << std::flush;
    }
    return 0;
}
