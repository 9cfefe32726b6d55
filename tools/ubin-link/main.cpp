// ubin-link: talks to a running Marubeta (or any link service) from the command line.
//
//   ubin-link [--service NAME] [--topic TOPIC] [--timeout MS] execute TEXT
//   ubin-link [...] request ITEM...     one line NAME<TAB>text per item
//   ubin-link [...] watch ITEM...       hot links: the current texts, then each change
//
// Exit status: 0 done, 1 refused or failed (unknown item, refused command or topic, link
// lost), 2 no server answers or a command line it does not understand.
#include "base/program.h"
#include "tools/ubin-link/link_command.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const auto order = ubin::link::ParseLinkArguments(ubin::ProgramArguments(argc, argv), std::cout, std::cerr);
    if (const int* status = std::get_if<int>(&order)) return *status;
    return ubin::link::RunLinkOrder(std::get<ubin::link::LinkOrder>(order), std::cout, std::cerr);
}
