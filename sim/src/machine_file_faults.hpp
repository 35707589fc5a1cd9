// FAULT entries of a machine file: their own keys, and whether each fits the
// driver stack its drive or controller sits on (a fault that could never
// apply, or that would change a reply the request does not have, is a
// machine-file error).
#pragma once

#include <string>
#include <vector>

#include "machine_file_json.hpp"
#include "zevsim/machine_config.hpp"

namespace zevsim::machine_file {

// The ways a drive is attached; each carries its own set of requests.
enum class Stack { InboxDisk, IrstMember, IrstPassThrough, VrocMember, VrocPassThrough };

// A FAULT list: the request kind (a drive's or, with controller, a
// controller's), nth, and exactly one way of failing.
std::vector<Fault> readFaults(const Json& value, const std::string& path, bool controller);

// Every fault of the drive must name a request that reaches it on one of its
// stacks, and fail it in a way that request can fail on each stack it takes.
void checkDriveFaultsFit(const DriveConfig& drive, const std::vector<Stack>& stacks,
                         const std::string& drivePath);
// The faults of one attachment (an inbox disk, a RAID member, a pass-through
// drive), at faultsPath, against that attachment's stack.
void checkAttachmentFaultsFit(const std::vector<Fault>& faults, Stack stack,
                              const std::string& faultsPath);
void checkControllerFaultsFit(const IntelControllerConfig& controller, const std::string& path);

}  // namespace zevsim::machine_file
