#include "update/run_texts.h"

#include "core/text.h"

#include <fmt/xchar.h>

namespace Orv {

std::wstring PreparingText() {
    return Pick(L"Preparing...", L"Hazırlanıyor...");
}

std::wstring GettingVersionText() {
    return Pick(L"Getting version information...", L"Sürüm bilgisi alınıyor...");
}

std::wstring SelfUpdatingText() {
    return Pick(L"Updating the launcher...", L"Launcher güncelleniyor...");
}

std::wstring CheckingText(bool repair) {
    return repair ? Pick(L"Verifying all files (repair)...", L"Tüm dosyalar doğrulanıyor (onarım)...")
                  : Pick(L"Checking files...", L"Dosyalar kontrol ediliyor...");
}

std::wstring DownloadingText(uint64_t files, uint64_t bytes) {
    return fmt::format(L"{} {} {} ({})", Pick(L"Downloading:", L"İndiriliyor:"), files,
                       Pick(L"files", L"dosya"), SizeText(bytes));
}

std::wstring DoneText(bool downloaded) {
    return downloaded ? Pick(L"Update complete. Have fun!", L"Güncelleme tamamlandı. İyi eğlenceler!")
                      : Pick(L"The game is up to date. Have fun!", L"Oyun güncel. İyi eğlenceler!");
}

std::wstring PausedText() {
    return Pick(L"Update paused.", L"Güncelleme duraklatıldı.");
}

std::wstring UnreachableText(const std::wstring& reason) {
    return fmt::format(
        L"{}\n{}", Pick(L"Cannot reach the update server.", L"Güncelleme sunucusuna ulaşılamadı."), reason);
}

std::wstring IncompleteText(const std::wstring& reason) {
    return fmt::format(L"{}\n{}", Pick(L"The update could not be completed.", L"Güncelleme tamamlanamadı."),
                       reason);
}

std::wstring NoSpaceText(uint64_t needed, uint64_t available) {
    return fmt::format(L"{} {} {}, {} {}.", Pick(L"Not enough disk space:", L"Diskte yeterli yer yok:"),
                       SizeText(needed), Pick(L"needed", L"gerekli"), SizeText(available),
                       Pick(L"free", L"boş"));
}

std::wstring NoServerText() {
    return Pick(L"No download server.", L"İndirme sunucusu yok.");
}

std::wstring InterruptedText() {
    return Pick(L"The download was interrupted.", L"İndirme yarıda kesildi.");
}

} // namespace Orv
