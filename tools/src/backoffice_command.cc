// heliq backoffice: act as the simulated back office on its calls.
//   list                      the calls
//   show <call>               one call in full, with the requests it received
//   set <call> [--status N] [--waiting-flag N] [--waiting-desc TEXT] [--engineer CODE]
//              [--service-order TEXT]
//                             change a call as the back office would; stamps it anew
//   refuse-next "<message>"   refuse the next request with the message
//   requests [--call C]       the requests the back office received
//   master-data list <entity> | put <entity> FIELD=VALUE... | remove <entity> KEY...
//              | refuse-next-read <entity> "<message>" [--after N] | audit <entity>
//                             the back office's master data and its audit trail, which the
//                             master-data synchronisation reads (entities: mk5-priorities, ...)
#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com_error.h"
#include "portal/backoffice/backoffice_simulator.h"
#include "portal/backoffice/master_data_simulator.h"
#include "tools/commands.h"

namespace heliq::tools {
namespace {

using Table = std::vector<std::vector<std::string>>;

// Prints rows under a header, each column as wide as its widest cell.
void PrintTable(const std::vector<std::string>& header, const Table& rows) {
  std::vector<size_t> widths(header.size());
  for (size_t i = 0; i < header.size(); ++i) widths[i] = header[i].size();
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  auto print = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
      line += cells[i];
      if (i + 1 < cells.size()) line += std::string(widths[i] - cells[i].size() + 2, ' ');
    }
    std::cout << line << "\n";
  };
  print(header);
  std::vector<std::string> rule;
  for (size_t width : widths) rule.emplace_back(width, '-');
  print(rule);
  for (const auto& row : rows) print(row);
}

// One line for a table cell: line breaks shown as " / ".
std::string OneLine(std::string text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (!out.ends_with(" / ")) out += " / ";
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string GenerationName(int32_t generation) {
  switch (generation) {
    case 3:
      return "Mk5";
    case 8:
      return "Mk6";
    default:
      return std::to_string(generation);
  }
}

void PrintRequests(const std::vector<BackOfficeRequest>& requests) {
  Table rows;
  for (const auto& r : requests) {
    rows.push_back({std::to_string(r.id), r.received.ToText(), GenerationName(r.generation),
                    r.operation, r.call_number, r.option ? std::to_string(r.option) : "",
                    r.action_done_by, r.sent_stamp, OneLine(r.outcome)});
  }
  PrintTable(
      {"ID", "RECEIVED", "GEN", "OPERATION", "CALL", "OPTION", "BY", "STAMP SENT", "OUTCOME"},
      rows);
}

void PrintCall(const BackOfficeCall& call) {
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"Call", call.call_number},
      {"Back office", GenerationName(call.generation)},
      {"Call type", call.call_type},
      {"Request (Q_ID)", std::to_string(call.question_id)},
      {"Business partner", call.bp_number},
      {"Description", call.description},
      {"Status", std::to_string(call.status)},
      {"Waiting flag", std::to_string(call.waiting_flag)},
      {"Waiting reason", call.waiting_desc},
      {"Support engineer", call.support_eng_code},
      {"Service order", call.service_order},
      {"Contract", call.contract + (call.contract_desc.empty() ? "" : "  " + call.contract_desc)},
      {"Warranty", call.warranty + (call.warranty_desc.empty() ? "" : "  " + call.warranty_desc) +
                       (call.warranty_exp_date.empty() ? "" : "  until " + call.warranty_exp_date)},
      {"Last option", call.last_option ? std::to_string(call.last_option) : ""},
      {"Last change by", call.last_action_by},
      {"Opened", call.opened.ToText()},
      {"Changed", call.changed.ToText()},
      {"LASTTRANSTIME", call.last_trans_time},
  };
  for (const auto& [name, value] : fields) {
    std::cout << name << ":" << (value.empty() ? "" : std::string(18 - name.size(), ' ') + value)
              << "\n";
  }
  std::cout << "Text:\n";
  std::string text = call.text;
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  std::cout << (text.empty() ? "  (none)" : text) << "\n";
}

// heliq backoffice master-data ...: registers the subcommands on `command`; the runner returns -1
// when none of them was given.
CommandRunner AddMasterDataCommand(CLI::App& command) {
  auto* master_data =
      command.add_subcommand("master-data", "the back office's master data and its audit trail");
  master_data->require_subcommand(1);
  auto* list = master_data->add_subcommand("list", "list the records of an entity");
  auto* put = master_data->add_subcommand("put", "add a record or change fields of one");
  auto* remove = master_data->add_subcommand("remove", "delete a record");
  auto* refuse =
      master_data->add_subcommand("refuse-next-read", "refuse the next audit read of an entity");
  auto* audit = master_data->add_subcommand("audit", "list the audit trail of an entity");
  struct Args {
    std::string entity;
    std::vector<std::string> values;
    std::string message;
    int32_t after = 0;
  };
  auto args = std::make_shared<Args>();
  std::string entities;
  for (const auto& name : MasterDataSimulator::Entities()) {
    entities += (entities.empty() ? "" : ", ") + name;
  }
  for (auto* sub : {list, put, remove, refuse, audit}) {
    sub->add_option("entity", args->entity, entities)->required();
  }
  put->add_option("fields", args->values, "FIELD=VALUE, the key fields among them")->required();
  remove->add_option("key", args->values, "the key fields' values, in order")->required();
  refuse->add_option("message", args->message, "the back office's message")->required();
  refuse->add_option("--after", args->after, "changes delivered before the refusal")
      ->check(CLI::NonNegativeNumber);

  return [=] {
    if (!*master_data) return -1;
    const MasterDataSimulator back_office;
    auto print_records = [&](const std::vector<MasterDataFields>& records,
                             std::vector<std::string> header, const auto& lead) {
      const std::vector<std::string> fields = MasterDataSimulator::Fields(args->entity);
      header.insert(header.end(), fields.begin(), fields.end());
      Table rows;
      for (size_t i = 0; i < records.size(); ++i) {
        std::vector<std::string> row = lead(i);
        for (const auto& field : fields) {
          std::string cell;
          for (const auto& [name, value] : records[i]) {
            if (name == field) cell = value;
          }
          row.push_back(cell);
        }
        rows.push_back(std::move(row));
      }
      PrintTable(header, rows);
    };
    if (*list) {
      print_records(back_office.List(args->entity), {},
                    [](size_t) { return std::vector<std::string>(); });
    } else if (*audit) {
      const auto trail = back_office.AuditTrail(args->entity);
      std::vector<MasterDataFields> images;
      for (const auto& change : trail) images.push_back(change.fields);
      print_records(images, {"ID", "CHANGED", "ACTION"}, [&](size_t i) {
        return std::vector<std::string>{std::to_string(trail[i].id), trail[i].changed.ToText(),
                                        trail[i].action};
      });
    } else if (*put) {
      MasterDataFields fields;
      for (const auto& assignment : args->values) {
        const size_t equals = assignment.find('=');
        if (equals == std::string::npos) {
          std::cerr << "heliq backoffice: \"" << assignment << "\" is not FIELD=VALUE" << std::endl;
          return 1;
        }
        fields.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
      }
      std::cout << (back_office.Put(args->entity, fields) ? "record added" : "record changed")
                << "\n";
    } else if (*remove) {
      back_office.Remove(args->entity, args->values);
      std::cout << "record deleted\n";
    } else {
      back_office.RefuseNextRead(args->entity, args->message, args->after);
      std::cout << "the next audit read of " << args->entity << " will be refused\n";
    }
    return 0;
  };
}

}  // namespace

CommandRunner AddBackOfficeCommand(CLI::App& app) {
  auto* command = app.add_subcommand("backoffice", "act as the simulated back office on its calls");
  command->require_subcommand(1);
  auto* list = command->add_subcommand("list", "list the calls");
  auto* show = command->add_subcommand("show", "show one call and the requests it received");
  auto* set = command->add_subcommand("set", "change a call as the back office; stamps it anew");
  auto* refuse = command->add_subcommand("refuse-next", "refuse the next request with a message");
  auto* requests =
      command->add_subcommand("requests", "list the requests the back office received");

  struct Args {
    std::string call;
    std::string message;
    std::optional<int32_t> status;
    std::optional<int32_t> waiting_flag;
    std::optional<std::string> waiting_desc;
    std::optional<std::string> engineer;
    std::optional<std::string> service_order;
  };
  auto args = std::make_shared<Args>();
  show->add_option("call", args->call, "call number, e.g. C0000001")->required();
  set->add_option("call", args->call, "call number, e.g. C0000001")->required();
  set->add_option("--status", args->status, "back-office status (5, 10, 15, 20, 30, ...)");
  set->add_option("--waiting-flag", args->waiting_flag,
                  "0 not waiting, 1 waiting for the customer, 2 resumed")
      ->check(CLI::Range(0, 2));
  set->add_option("--waiting-desc", args->waiting_desc, "waiting reason");
  set->add_option("--engineer", args->engineer, "back-office code of the support engineer");
  set->add_option("--service-order", args->service_order, "service order number");
  refuse->add_option("message", args->message, "the back office's message")->required();
  requests->add_option("--call", args->call, "only the requests about this call");
  const CommandRunner master_data = AddMasterDataCommand(*command);

  return [=] {
    if (!*command) return -1;
    if (const int status = master_data(); status >= 0) return status;
    const BackOfficeSimulator simulator;
    if (*list) {
      Table rows;
      for (const auto& call : simulator.ListCalls()) {
        rows.push_back({call.call_number, GenerationName(call.generation), call.call_type,
                        std::to_string(call.question_id), std::to_string(call.status),
                        std::to_string(call.waiting_flag), call.support_eng_code,
                        call.service_order, call.last_trans_time});
      }
      if (rows.empty()) {
        std::cout << "no calls\n";
      } else {
        PrintTable({"CALL", "GEN", "TYPE", "Q_ID", "STATUS", "WAIT", "ENGINEER", "SERVICE ORDER",
                    "LASTTRANSTIME"},
                   rows);
      }
      return 0;
    }
    if (*show) {
      const auto call = simulator.FindCall(args->call);
      if (!call) {
        std::cerr << "heliq backoffice: call " << args->call << " does not exist" << std::endl;
        return 1;
      }
      PrintCall(*call);
      const auto received = simulator.Requests(call->call_number);
      if (!received.empty()) {
        std::cout << "\nRequests received:\n";
        PrintRequests(received);
      }
      return 0;
    }
    if (*set) {
      BackOfficeCallChange change;
      change.status = args->status;
      change.waiting_flag = args->waiting_flag;
      change.waiting_desc = args->waiting_desc;
      change.support_eng_code = args->engineer;
      change.service_order = args->service_order;
      const BackOfficeCall call = simulator.ChangeCall(args->call, change);
      std::cout << "call " << call.call_number << " changed; LASTTRANSTIME " << call.last_trans_time
                << "\n";
      return 0;
    }
    if (*refuse) {
      simulator.RefuseNext(args->message);
      std::cout << "the next request will be refused (" << simulator.PendingRefusals()
                << " refusal(s) waiting)\n";
      return 0;
    }
    const auto received = simulator.Requests(args->call);
    if (received.empty()) {
      std::cout << "no requests received\n";
    } else {
      PrintRequests(received);
    }
    return 0;
  };
}

}  // namespace heliq::tools
