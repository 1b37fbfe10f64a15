#include "fakes/agency/AgencyData.h"

#include "common/JsonUtils.h"

namespace velk::test {

namespace {

using core::json;

json link(const char* id, const char* name, const char* title, int orderNum, json props) {
    return {{"id", id},
            {"name", name},
            {"i18nName", title},
            {"link", std::string("/details/") + name},
            {"linkType", "INTERNAL"},
            {"orderNum", orderNum},
            {"props", std::move(props)}};
}

json service(const char* id, const char* name, const char* title, json links) {
    return {{"id", id}, {"name", name}, {"i18nTitle", title}, {"links", std::move(links)}};
}

}  // namespace

std::string defaultTaxpayersJson() {
    const json taxpayers = json::array({
        {{"name", "Тест ЕООД"},
         {"pin", "123456789"},
         {"pinType", "EIK"},
         {"tin", 1001},
         {"email", "office@test.bg"},
         {"authorization", "Пълномощно № 1"},
         {"active", true}},
        {{"name", "Иван Петров Иванов"},
         {"pin", "8001010000"},
         {"pinType", "IND_EGN"},
         {"tin", 1002},
         {"email", "ivan@test.bg"},
         {"authorization", ""},
         {"active", true}},
    });
    return core::dumpCompact(taxpayers);
}

std::string defaultCatalogueJson() {
    const json payments =
        service("s-101", "dept-and-payments-report", "Задължения и плащания",
                json::array({link("101", "dept-and-payments-report-1", "Справка за задължения и плащания", 1,
                                  {{"systemId", "3"}, {"url", "DEBT.REPORT.publicEntry"}})}));
    const json odit =
        service("s-317", "odit-317", "Справка по чл. 317",
                json::array({link("3171", "odit-317-1", "Подадени документи", 1,
                                  {{"systemId", "7"}, {"url", "DEC2009.IPUBXMLDEC.listDocuments"}}),
                             link("3172", "odit-317-2", "Подаване на справка", 2,
                                  {{"systemId", "7"}, {"url", "DEC2009.IPUBXMLDEC.publicEntry"}})}));
    const json income73 =
        service("s-73", "info-income-dif-73", "Справка по чл. 73, ал. 1",
                json::array({link("731", "info-income-dif-73-1", "Подадени документи", 1,
                                  {{"systemId", "12"}, {"url", "DEC2009.IPUBXSD_VAL_DEC.listDocuments"}}),
                             link("732", "info-income-dif-73-2", "Подаване на справка за 2025 г.", 2,
                                  {{"systemId", "12"}, {"url", "DEC2009.IPUBXSD_VAL_DEC.publicEntry"}}),
                             link("733", "info-income-dif-73-3", "Подаване на справка за 2024 г.", 3,
                                  {{"systemId", "12"}, {"url", "DEC2009.IPUBXSD_VAL_DEC.publicEntry"}})}));
    const json income736 =
        service("s-736", "info-income-dif-73-6", "Справка по чл. 73, ал. 6",
                json::array({link("7361", "info-income-dif-73-6-1", "Подадени документи", 1,
                                  {{"systemId", "12"}, {"url", "DEC2009.IPUBXSD_VAL_DEC.listDocuments"}}),
                             link("73625", "info-income-dif-73-6-25", "Подаване на справка", 2,
                                  {{"systemId", "12"}, {"url", "DEC2009.IPUBXSD_VAL_DEC.publicEntry"}})}));
    const json dec16 = service("s-16", "dec1-and-6", "Декларации обр. 1 и обр. 6",
                               json::array({link("1621", "dec1-and-6-2-1", "Подадени документи", 1,
                                                 {{"systemId", "4"}, {"url", "DEC16.PUB.listDocuments"}})}));
    const json vat = service("s-vat", "vat-report", "Справка-декларация по ЗДДС",
                             json::array({link("901", "vat-report-1", "Подадени документи", 1,
                                               {{"systemId", "9"}, {"url", "IVAT.PUB.listDocuments"}}),
                                          link("902", "vat-report-2", "Подаване на справка-декларация", 2,
                                               {{"systemId", "9"}, {"url", "IVAT.PUB.publicEntry"}})}));
    const json catalogue = json::array({
        {{"id", "c-1"},
         {"name", "payments"},
         {"i18nTitle", "Плащания"},
         {"services", json::array({payments})}},
        {{"id", "c-2"},
         {"name", "declarations"},
         {"i18nTitle", "Декларации"},
         {"services", json::array({odit, income73, income736, dec16})}},
        {{"id", "c-3"}, {"name", "vat"}, {"i18nTitle", "ДДС"}, {"services", json::array({vat})}},
    });
    return core::dumpCompact(catalogue);
}

}  // namespace velk::test
