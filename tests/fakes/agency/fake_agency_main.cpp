// fake-agency: the loopback fake of the revenue agency, standalone. Once it
// listens it prints two shell lines that point an agent at it, then serves
// until SIGINT or SIGTERM.
//
//   fake-agency [--portal-port N] [--login-port N]
#include <signal.h>

#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "fakes/LoopbackHosts.h"
#include "fakes/TestTlsAuthority.h"
#include "fakes/agency/FakeAgency.h"
#include "support/TempDir.h"

namespace {

int portArgument(const char* text) {
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || port < 1 || port > 65535) {
        throw std::invalid_argument(std::string("not a port: ") + text);
    }
    return static_cast<int>(port);
}

velk::test::FakeAgency::Ports parsePorts(int argc, char** argv) {
    velk::test::FakeAgency::Ports ports;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if ((arg == "--portal-port" || arg == "--login-port") && i + 1 < argc) {
            (arg == "--portal-port" ? ports.portal : ports.login) = portArgument(argv[++i]);
        } else {
            throw std::invalid_argument("usage: fake-agency [--portal-port N] [--login-port N]");
        }
    }
    return ports;
}

}  // namespace

int main(int argc, char** argv) {
    // Blocked before any server thread starts, so only sigwait below sees
    // them and the destructors run: the servers stop, the folders go.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        const velk::test::FakeAgency::Ports ports = parsePorts(argc, argv);
        velk::test::LoopbackHosts hosts;
        velk::test::FakeAgency agency(hosts, ports);

        // A client certificate the login host accepts, for curl or a store.
        velk::test::TempDir clientDir;
        const velk::test::TestIdentity client = hosts.pki().issue();
        const std::string clientPem = clientDir.sub("client.pem");
        std::ofstream(clientPem, std::ios::binary) << velk::test::TestTlsAuthority::certificatePem(client)
                                                   << velk::test::TestTlsAuthority::privateKeyPem(client);

        std::cout << "VELK_TEST_CONNECT_TO=" << hosts.connectToEntries() << '\n'
                  << "VELK_TEST_CA_FILE=" << hosts.caFile() << std::endl;
        std::cerr << "fake-agency: client certificate and key in " << clientPem << "; portal "
                  << agency.portal().port() << ", login " << agency.login().port() << "; Ctrl-C stops"
                  << std::endl;

        int signal = 0;
        sigwait(&stopSignals, &signal);
        std::cerr << "fake-agency: stopping" << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "fake-agency: " << e.what() << std::endl;
        return 1;
    }
}
