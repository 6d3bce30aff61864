// The framework's fixed message texts, six languages each, indexed by the
// language index of the host's language code. Where a language has no text
// of its own its entry holds the English text. This file is UTF-8; the
// compiler turns the wide literals into UTF-16.
#include "messages.h"

#include "base_component.h"

// No supported devices were given (installation)
const wchar_t* const g_aszNoSupportedDevices[kLanguageCount] = {
    L"No supported devices were specified.",  // English
    L"Aucun périphérique pris en charge n'a été spécifié",  // French
    L"No supported devices were specified.",  // Italian
    L"Es wurden keine unterstützten Treiber angegeben",  // German
    L"No se especificó ningún dispositivo compatible.",  // Spanish
    L"サポートされているデバイスが指定されていません。",  // Japanese
};

// An installation error
const wchar_t* const g_aszInstallError[kLanguageCount] = {
    L"An error occurred during installation.",  // English
    L"Erreur lors de l'installation",  // French
    L"An error occurred during installation.",  // Italian
    L"Während der Installation ist ein Fehler aufgetreten",  // German
    L"Se produjo un error durante la instalación.",  // Spanish
    L"インストール中にエラーが発生しました。",  // Japanese
};

// No devices to install
const wchar_t* const g_aszNoDevicesToInstall[kLanguageCount] = {
    L"No devices were found to install.",  // English
    L"Pas de périphérique à installer",  // French
    L"No devices were found to install.",  // Italian
    L"Es wurden keine zu installierenden Geräte gefunden",  // German
    L"No se encontró ningún dispositivo para instalar.",  // Spanish
    L"インストールするデバイスが見つかりませんでした。",  // Japanese
};

// Installation failed on a device
const wchar_t* const g_aszInstallFailedOnDevice[kLanguageCount] = {
    L"Installation failed on at least one device.  One of the devices may have been deleted through Device Manager and a reboot may be necessary to complete the driver installation for this device.",  // English
    L"L'installation a échoué sur un périphérique au moins. Il se peut que l'un des périphériques ait été supprimé via le Gestionnaire de périphériques et qu'un réamorçage soit nécessaire pour achever l'installation du pilote de ce périphérique.",  // French
    L"Installazione non riuscita su almeno un dispositivo. Uno dei dispositivi potrebbe essere stato eliminato da Gestione periferiche e potrebbe essere necessario riavviare il computer per completare l'installazione del driver per questo dispositivo.",  // Italian
    L"Die Installation auf mindestens einem Gerät ist fehlgeschlagen. Vielleicht wurde ein Gerät im Geräte-Manager gelöscht, und der Computer muß zur vollständigen Installation des Treibers für dieses Gerät neu gestartet werden.",  // German
    L"La instalación ha fallado en un dispositivo como mínimo.  Quizá uno de los dispositivos se ha eliminado mediante el Administrador de dispositivos y es necesario volver a arrancar para finalizar la instalación del controlador de este dispositivo.",  // Spanish
    L"1つ以上のデバイスでインストールが失敗しました。デバイスのうちの1つがデバイス マネージャによって削除された可能性があり、このデバイスのドライバのインストールを完了するには、再起動が必要な場合があります。",  // Japanese
};

// The shell open after installation failed
const wchar_t* const g_aszShellExecuteError[kLanguageCount] = {
    L"An error occurred during the ShellExecute command.",  // English
    L"An error occurred during the ShellExecute command.",  // French
    L"An error occurred during the ShellExecute command.",  // Italian
    L"An error occurred during the ShellExecute command.",  // German
    L"An error occurred during the ShellExecute command.",  // Spanish
    L"An error occurred during the ShellExecute command.",  // Japanese
};

// The INF type is not recognised
const wchar_t* const g_aszUnknownInfType[kLanguageCount] = {
    L"Unknown INF file type -- installation will not continue.",  // English
    L"Type de fichier INF inconnu -- installation interrompue",  // French
    L"Unknown INF file type -- installation will not continue.",  // Italian
    L"Unbekannter INF-Dateityp -- die Installation wird nicht fortgesetzt",  // German
    L"Tipo de archivo INF desconocido. La instalación no continuará.",  // Spanish
    L"不明なINFファイル タイプです -- インストールを続行できません",  // Japanese
};

// The operating system is not supported (install state)
const wchar_t* const g_aszOsNotSupported[kLanguageCount] = {
    L"The OS is not supported.\r\n",  // English
    L"Le système d'exploitation n'est pas pris en charge\r\n",  // French
    L"The OS is not supported.\r\n",  // Italian
    L"Das Betriebssystem wird nicht unterstützt\r\n",  // German
    L"El sistema operativo no es compatible.\r\n",  // Spanish
    L"このOSはサポートされていません。\r\n",  // Japanese
};

// Not enough disk space (install state)
const wchar_t* const g_aszNotEnoughDiskSpace[kLanguageCount] = {
    L"There is not enough disk space to install this component.\r\n",  // English
    L"Espace disque insuffisant pour l'installation du composant.\r\n",  // French
    L"There is not enough disk space to install this component.\r\n",  // Italian
    L"Für die Installation dieser Komponente steht nicht genügend freier Festplattenspeicherplatz zur Verfügung.\r\n",  // German
    L"No dispone de suficiente espacio en el disco para instalar este componente.\r\n",  // Spanish
    L"このコンポーネントをインストールするために必要なディスク容量がありません。\r\n",  // Japanese
};

// The component is marked for removal (install state)
const wchar_t* const g_aszMarkedForRemoval[kLanguageCount] = {
    L"The component is marked for removal upon the next reboot.  Install can not continue.\r\n",  // English
    L"Le composant sera supprimé au prochain démarrage.  L'installation ne peut pas continuer.\r\n",  // French
    L"The component is marked for removal upon the next reboot.  Install can not continue.\r\n",  // Italian
    L"Die markierte Komponente wird beim nächsten Neustart des Systems entfernt.  Die Installation kann nicht fortgesetzt werden.\r\n",  // German
    L"El componente está marcado para eliminarlo la próxima vez que reinicie.  La instalación no puede continuar.\r\n",  // Spanish
    L"このコンポーネントは次回のリブート時に削除されるようにマークされています。インストールを続行できません。\r\n",  // Japanese
};

int CBaseComponent::GetLanguageIndex(const wchar_t* code)
{
    static const wchar_t* const kCodes[] = {L"fr", L"it", L"de", L"es", L"ja"};
    if (!code)
        return kLangEnglish;
    for (int i = 0; i < 5; ++i) {
        if (TzrCompareNoCase(code, kCodes[i]) == 0)
            return i + 1;
    }
    return kLangEnglish;
}

const wchar_t* CBaseComponent::GetMessageForLanguage(const TzrMessageTable& table, const wchar_t* language)
{
    return table[GetLanguageIndex(language)];
}

// The installation answers in Japanese or in English: hosts of the other
// languages get the English text, whatever their table entry holds.
const wchar_t* CBaseComponent::GetLocalizedMessage(const TzrMessageTable& table, const wchar_t* language)
{
    if (GetLanguageIndex(language) == kLangJapanese && table[kLangJapanese] && table[kLangJapanese][0])
        return table[kLangJapanese];
    return table[kLangEnglish];
}
