// Small helpers the benchmark programs share: the clock, address and number
// parsing, percentiles, and the SNMPv2c GET the snmpd comparison sends.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// Monotonic nanoseconds.
std::int64_t nowNs();

// Sleeps until the monotonic time `deadlineNs`, spinning for the last stretch
// so that short intervals are kept to within a microsecond or two.
void sleepUntil(std::int64_t deadlineNs);

// "A.B.C.D:PORT" into a socket address; exits with a message when malformed.
sockaddr_in parseEndpoint(const std::string& text);
// "A.B.C.D" into a socket address with port 0; exits when malformed.
sockaddr_in parseAddress(const std::string& text);

double parseDouble(const std::string& option, const std::string& text);
long parseLong(const std::string& option, const std::string& text);
// The value that follows `option` at argv[i]: moves i onto it; fails when
// the command line ends first.
std::string optionValue(const std::string& option, int& i, int argc, char** argv);

[[noreturn]] void fail(const std::string& message);

// SIGTERM and SIGINT (and SIGALRM, when `alsoAlarm`) set the stop flag,
// without SA_RESTART, so that a blocking call returns and the loop ends.
void catchStopSignals(bool alsoAlarm);
bool stopRequested();

// The value at fraction q (0..1) of the samples, which are reordered.
double percentile(std::vector<std::uint32_t>& samples, double q);

// The bytes of a hexadecimal text ("302602..."); exits when malformed.
std::string fromHex(const std::string& hex);

// A text with control characters and non-ASCII bytes shown as \xNN.
std::string printable(const std::string& bytes);

// An SNMPv2c GetRequest for one object, e.g. community "bench" and the OID
// "1.3.6.1.4.1.2021.11.11.0".
std::string snmpGetRequest(const std::string& community, const std::string& oid, std::int32_t requestId);

// Reads the first variable binding of an SNMP response. Returns false when
// the datagram is not a response; `exception` is set for noSuchObject,
// noSuchInstance and endOfMibView, `value` holds the value as text.
bool snmpFirstValue(const std::string& datagram, bool& exception, std::string& value);

// Reads a request option shared by the clients: --text, --hex or --snmp-get.
// Returns true when `arg` was one of them (consuming its value from argv).
bool takeRequestOption(const std::string& arg, int& i, int argc, char** argv, std::string& request,
                       bool& snmp);

}  // namespace bench
