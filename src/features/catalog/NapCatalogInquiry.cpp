#include "features/catalog/NapCatalogInquiry.h"

#include "common/AgencyEndpoints.h"
#include "features/common/PortalInquiryOutcome.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/LinkCaptions.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::catalog {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<NapCatalogInquiry>();

const std::vector<operations::ResultColumn> kColumns = {
    {"name", "Справка"},       {"url", "Адрес (кликваем)"}, {"linkType", "Вид"},
    {"category", "Категория"}, {"serviceId", "serviceId"},  {"systemId", "systemId"},
};

std::string property(const ServiceLink& link, const std::string& name) {
    const auto it = link.props.find(name);
    return it == link.props.end() ? std::string() : it->second;
}

// The service's title, else the link's, else the service's name; a link
// title that says something more is added after a dash.
std::string displayTitle(const Service& service, const ServiceLink& link) {
    std::string title = !service.title.empty() ? service.title
                        : !link.title.empty()  ? link.title
                                               : service.name;
    if (!link.title.empty() && link.title != title) {
        title += " — " + link.title;
    }
    return title;
}

// Relative links are completed with the portal's origin as they stand: a
// leading slash gives two slashes side by side.
std::string absoluteUrl(const ServiceLink& link) {
    if (link.link.empty() || link.link.rfind("http", 0) == 0) {
        return link.link;
    }
    return std::string(AgencyEndpoints::kPortalBaseUrl) + "/" + link.link;
}

}  // namespace

std::string linkPropertyUrl(const ServiceLink& link) {
    return property(link, "url");
}

std::string NapCatalogInquiry::typeId() const {
    return "nap_catalog";
}

std::string NapCatalogInquiry::displayName() const {
    return "Списък на всички справки и услуги (NAP catalog)";
}

std::string NapCatalogInquiry::featureGroupId() const {
    return "catalog";
}

std::string NapCatalogInquiry::featureGroupName() const {
    return "Каталог НАП";
}

std::int32_t NapCatalogInquiry::backendKind() const {
    return 1;
}

std::int32_t NapCatalogInquiry::flowKind() const {
    return 1;
}

std::string NapCatalogInquiry::description() const {
    return "Плосък списък на категории, услуги и линкове от `GET /api/base/categories`. Използва се за "
           "откриване на наличните справки и техните serviceId-та.";
}

bool NapCatalogInquiry::requiresSubmissionToken() const {
    return false;
}

operations::ResultSchema NapCatalogInquiry::resultSchema() const {
    return operations::napCatalogResultSchema();
}

std::vector<operations::ParamSpec> NapCatalogInquiry::params() const {
    return {
        {"filter",
         "Филтър",
         operations::ParamType::String,
         false,
         {},
         {},
         "Подниз в име/заглавие/URL; празно = всички"},
    };
}

operations::InquiryResult NapCatalogInquiry::run(infra::portal::NapSession* session,
                                                 const operations::ParamMap& params) const {
    operations::InquiryResult result;
    result.columns = kColumns;
    const std::string filter = operations::paramOr(params, "filter", "");

    // No login here: the session serves the catalogue it has, or loads it.
    const std::vector<Category>& catalogue = session->categories();
    if (catalogue.empty()) {
        markFailed(result, "Категориите не се заредиха от НАП.");
        return result;
    }
    std::size_t totalLinks = 0;
    for (const Category& category : catalogue) {
        for (const Service& service : category.services) {
            for (const ServiceLink& link : service.links) {
                ++totalLinks;
                const std::string url = absoluteUrl(link);
                const std::string haystack = category.name + " " + category.title + " " + service.name + " " +
                                             service.title + " " + link.name + " " + link.title + " " +
                                             linkPropertyUrl(link) + " " + url;
                if (!operations::containsIgnoreCase(haystack, filter)) {
                    continue;
                }
                result.rows.push_back({displayTitle(service, link), url, link.linkType, category.name,
                                       property(link, "serviceId"), property(link, "systemId")});
            }
        }
    }
    result.metadata["status"] = "ok";
    result.metadata["totalLinks"] = std::to_string(totalLinks);
    result.metadata["matchedLinks"] = std::to_string(result.rows.size());
    result.metadata["categories"] = std::to_string(catalogue.size());
    return result;
}

}  // namespace velk::core::features::catalog
