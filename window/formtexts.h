#ifndef FORMTEXTS_H
#define FORMTEXTS_H

// Captions the window compares letter for letter, status texts and the
// colour marks of the parameter fields. Two captions mix alphabets on
// purpose: "Cоединиться" starts with a Latin C, "Перезaгрузка" has a Latin a.
namespace Caption {
inline constexpr char connect[] = "Cоединиться";
inline constexpr char disconnect[] = "Отсоединиться";
inline constexpr char scanIdle[] = "Сканировать";
inline constexpr char scanRunning[] = "Стоп сканирования";
inline constexpr char writeIdle[] = "Запись параметры";
inline constexpr char writeRunning[] = "Остановить запись";
inline constexpr char windowTitle[] = "Конфигуратор Ordan-RS485-Ethernet V1.0.0";
inline constexpr char currentFile[] = "Текущий файл";
} // namespace Caption

namespace Status {
inline constexpr char connected[] = "Connected";
inline constexpr char disconnected[] = "Disconnected";
inline constexpr char openRefused[] = "Порт отказано в доступе";
} // namespace Status

// Whole style sheets given to a field to mark it.
namespace Mark {
inline constexpr char valid[] = "background-color:  #90ee90;";
inline constexpr char invalid[] = "background-color: #FF2400";
inline constexpr char neutral[] = "background-color:  #f5edff;";
inline constexpr char neutralMac[] = "background-color: #f5edff;";
inline constexpr char none[] = "";
} // namespace Mark

inline constexpr char windowIconPath[] = ":/icon/Tessmar.ico";

#endif // FORMTEXTS_H
