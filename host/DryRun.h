// The machine a dry run merges on: a private machine folder of its own (in the Temporary Items
// folder of the user's machine, never in a shared temporary folder), so that the messages
// still go through the external and a real stand-in client, but into a client that only this
// run uses and that cannot deliver (it gets the user's accounts without their delivery lines).
// Nothing reaches the user's own clients. Afterwards the client's outbox is moved out as one
// file per record.
#pragma once

#include <string>
#include <vector>

namespace host {

class DryRunMachine {
 public:
  DryRunMachine() = default;
  ~DryRunMachine();  // quits its applications and removes its folder
  DryRunMachine(const DryRunMachine &) = delete;
  DryRunMachine &operator=(const DryRunMachine &) = delete;

  // Makes the private machine and points QUILLCAST_HOME at it: the stand-in named client
  // installed (every stand-in when client is empty or none has that name), each client's
  // accounts copied from userHome without the lines that deliver mail. False with *error
  // when it cannot be made.
  bool Create(const std::string &userHome, const std::string &client, std::string *error);

  // Quits the client (it writes what it still holds) and moves its queued messages into
  // folder: the i-th message the client queued becomes "<recordNumbers[i]>.eml", a Bcc
  // envelope written on top as a "Bcc:" line. False with *error when the messages cannot be
  // moved or their number is not the number of records; they are then named
  // "message-<i>.eml" in the order queued. *bytes is the size of the files written.
  bool CollectMessages(const std::string &client, const std::vector<int> &recordNumbers,
                       const std::string &folder, size_t *bytes, std::string *error);

 private:
  void Remove();

  std::string home_;
  std::string client_;
};

}  // namespace host
