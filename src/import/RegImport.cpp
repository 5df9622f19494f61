#include "import/RegImport.h"

namespace quern {

void ImportPlan::add(RegChange change) {
    changes.push_back(std::move(change));
}

std::string changeLine(const RegChange& change) {
    return change.keyPath;
}

std::string planSummary(const ImportPlan&) {
    return "No changes.";
}

bool planImport(reg::RegStore&, const RegFileContent&, ImportPlan& plan, std::string&) {
    plan = {};
    return true;
}

reg::Status applyImport(reg::RegStore&, const RegFileContent&) {
    return reg::Status::Ok;
}

ImportPlan compareStores(reg::RegStore&, reg::RegStore&) {
    return {};
}

bool compareFiles(const RegFileContent&, const RegFileContent&, ImportPlan& plan, std::string&) {
    plan = {};
    return true;
}

ImportPlan planBelow(const ImportPlan& plan, std::string_view) {
    return plan;
}

} // namespace quern
