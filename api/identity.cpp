// The base-board and system records, from the BIOS, system and board identity getters.
#include "SmBios/SmBios.h"
#include "api/exports.h"

void FillBaseBoardInformation(SmBios& reader, BaseBoardInformation& record) {
    // The getters' results are not examined: a string the table lacks leaves its field as
    // the caller left it.
    reader.GetBoardManufacturer(record.Manufacturer, sizeof record.Manufacturer);
    reader.GetBoardProduct(record.ProductName, sizeof record.ProductName);
    reader.GetBiosReleaseDate(record.RomReleaseDate, sizeof record.RomReleaseDate);
    reader.GetBiosVendor(record.RomVendor, sizeof record.RomVendor);
    reader.GetBiosVersion(record.RomVersion, sizeof record.RomVersion);
    reader.GetBoardSerialNo(record.SerialNo, sizeof record.SerialNo);
    reader.GetBoardAssetTag(record.AssetTag, sizeof record.AssetTag);
    reader.GetBoardVersion(record.RevisionLevel, sizeof record.RevisionLevel);
}

void FillSysInformation(SmBios& reader, SysInformation& record) {
    reader.GetSysManufacturer(record.manufacturer, sizeof record.manufacturer);
    reader.GetSysProductname(record.SysProductName, sizeof record.SysProductName);
    reader.GetSysVersion(record.version, sizeof record.version);
}
