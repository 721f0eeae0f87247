<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru" sourcelanguage="en">
<context>
    <name>BusReport</name>
    <message>
        <source>interrupted</source>
        <translation>прервано</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>отказ</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>the module closed the connection</source>
        <translation>модуль закрыл соединение</translation>
    </message>
    <message>
        <source>not connected</source>
        <translation>нет соединения</translation>
    </message>
    <message>
        <source>not reached at %1 (%2)</source>
        <translation>нет связи с %1 (%2)</translation>
    </message>
    <message>
        <source>%1 answers</source>
        <translation>%1 отвечает</translation>
    </message>
    <message>
        <source>%1 answer</source>
        <translation>%1 отвечают</translation>
    </message>
    <message>
        <source>%1 does not answer (%2)</source>
        <translation>%1 не отвечает (%2)</translation>
    </message>
    <message>
        <source>%1 do not answer (%2)</source>
        <translation>%1 не отвечают (%2)</translation>
    </message>
    <message>
        <source>nothing answers</source>
        <translation>никто не отвечает</translation>
    </message>
    <message>
        <source>, line quality %1 % (under %2 %)</source>
        <translation>, качество линии %1 % (ниже %2 %)</translation>
    </message>
    <message>
        <source>unreachable</source>
        <translation>недоступен</translation>
    </message>
</context>
<context>
    <name>BusSettingsSearch</name>
    <message>
        <source>the module&apos;s own settings</source>
        <translation>собственные настройки модуля</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>прервано</translation>
    </message>
    <message>
        <source>; nothing was written</source>
        <translation>; ничего не записано</translation>
    </message>
    <message>
        <source>not identified: %1; nothing was written</source>
        <translation>модуль не опознан: %1; ничего не записано</translation>
    </message>
    <message>
        <source>the module did not give its speed, parity and stop bits; nothing was written</source>
        <translation>модуль не сообщил скорость, чётность и стоп-биты; ничего не записано</translation>
    </message>
    <message>
        <source>the module on %1 (%2) runs at %3, not at %4; nothing was written</source>
        <translation>модуль на %1 (%2) работает по адресу %3, а не %4; ничего не записано</translation>
    </message>
    <message>
        <source>writing %1 failed: %2</source>
        <translation>запись %1 не удалась: %2</translation>
    </message>
    <message>
        <source>another module is on the port now (%1, not %2)</source>
        <translation>на порту теперь другой модуль (%1, а не %2)</translation>
    </message>
    <message>
        <source>writing back %1 failed: %2</source>
        <translation>возврат к %1 не удался: %2</translation>
    </message>
    <message>
        <source>the module is back at %1, verified</source>
        <translation>модуль возвращён к %1, проверено</translation>
    </message>
    <message>
        <source>the bus answers at the module&apos;s own settings, %1: nothing written</source>
        <translation>шина отвечает при собственных настройках модуля, %1: ничего не записано</translation>
    </message>
    <message>
        <source>bus found at %1 after %2 %3</source>
        <translation>шина найдена на %1 после %2 %3</translation>
    </message>
    <message>
        <source>try</source>
        <translation>попытки</translation>
    </message>
    <message>
        <source>tries</source>
        <translation>попыток</translation>
    </message>
    <message>
        <source>nothing answers at any setting: %1</source>
        <translation>ни при одной настройке никто не отвечает: %1</translation>
    </message>
    <message>
        <source>the search&apos;s time ran out after %1 %2: %3</source>
        <translation>время поиска вышло после %1 %2: %3</translation>
    </message>
    <message>
        <source>interrupted: nothing was written</source>
        <translation>прервано: ничего не записано</translation>
    </message>
    <message>
        <source>interrupted while writing %1, which the module may hold unverified; it was last verified at %2</source>
        <translation>прервано во время записи %1, которую модуль мог принять без проверки; последняя проверенная настройка — %2</translation>
    </message>
    <message>
        <source>interrupted: the module was last verified at %1</source>
        <translation>прервано: последняя проверенная настройка модуля — %1</translation>
    </message>
    <message>
        <source>nothing was written, the module stays at %1</source>
        <translation>ничего не записано, у модуля остались настройки %1</translation>
    </message>
    <message>
        <source>the module was not written back to %1</source>
        <translation>модуль не возвращён к %1</translation>
    </message>
</context>
<context>
    <name>CheckedPlan</name>
    <message>
        <source>%1 of the base values: %2</source>
        <translation>%1 из базовых значений: %2</translation>
    </message>
    <message>
        <source>%1 is planned again in row %2</source>
        <translation>%1 запланирован ещё и в строке %2</translation>
    </message>
    <message>
        <source>row %1: %2</source>
        <translation>строка %1: %2</translation>
    </message>
    <message>
        <source>row %1, column %2: %3</source>
        <translation>строка %1, столбец %2: %3</translation>
    </message>
</context>
<context>
    <name>HeldClaim</name>
    <message>
        <source>the register was closed</source>
        <translation>реестр закрыт</translation>
    </message>
</context>
<context>
    <name>HostPort</name>
    <message>
        <source>&quot;%1&quot; is not IP:PORT (no TCP port given)</source>
        <translation>«%1» — не IP:ПОРТ (не указан TCP-порт)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not HOST:PORT (no TCP port given)</source>
        <translation>«%1» — не ХОСТ:ПОРТ (не указан TCP-порт)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an IPv6 address</source>
        <translation>«%1» — не адрес IPv6</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not HOST:PORT (an IPv6 address goes in brackets: [ADDRESS]:PORT)</source>
        <translation>«%1» — не ХОСТ:ПОРТ (адрес IPv6 пишется в квадратных скобках: [АДРЕС]:ПОРТ)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not HOST:PORT (no host given)</source>
        <translation>«%1» — не ХОСТ:ПОРТ (не указан хост)</translation>
    </message>
    <message>
        <source>%1 is no address to connect to</source>
        <translation>к адресу %1 подключиться нельзя</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an IPv4 address (four numbers 0-255 without leading zeros)</source>
        <translation>«%1» — не адрес IPv4 (четыре числа 0-255 без ведущих нулей)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is neither a host name nor an IPv4 address</source>
        <translation>«%1» — не имя хоста и не адрес IPv4</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a TCP port (1-65535, without leading zeros)</source>
        <translation>«%1» — не TCP-порт (1-65535, без ведущих нулей)</translation>
    </message>
</context>
<context>
    <name>ModuleJob</name>
    <message>
        <source>the module gave no MAC address</source>
        <translation>модуль не сообщил MAC-адрес</translation>
    </message>
    <message>
        <source>the module&apos;s MAC answer &quot;%1&quot; is not a MAC address</source>
        <translation>ответ модуля на запрос MAC «%1» — не MAC-адрес</translation>
    </message>
    <message>
        <source>the module&apos;s MAC read differently twice (%1, then &quot;%2&quot;)</source>
        <translation>MAC-адрес модуля дважды прочитан по-разному (%1, затем «%2»)</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>прервано</translation>
    </message>
</context>
<context>
    <name>PlanEditor</name>
    <message>
        <source>&amp;Add row</source>
        <translation>Доб&amp;авить строку</translation>
    </message>
    <message>
        <source>&amp;Duplicate rows</source>
        <translation>&amp;Дублировать строки</translation>
    </message>
    <message>
        <source>&amp;Remove rows</source>
        <translation>&amp;Удалить строки</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Копировать</translation>
    </message>
    <message>
        <source>&amp;Paste</source>
        <translation>&amp;Вставить</translation>
    </message>
    <message>
        <source>Next &amp;problem</source>
        <translation>&amp;Следующая ошибка</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>&amp;Отменить</translation>
    </message>
    <message>
        <source>Re&amp;do</source>
        <translation>&amp;Повторить</translation>
    </message>
    <message>
        <source>&amp;Undo %1</source>
        <translation>&amp;Отменить: %1</translation>
    </message>
    <message>
        <source>Re&amp;do %1</source>
        <translation>&amp;Повторить: %1</translation>
    </message>
    <message>
        <source>reading back 11 of 11</source>
        <translation>считывание 11 из 11</translation>
    </message>
    <message>
        <source>Connect the next module to %1</source>
        <translation>Подключите следующий модуль к %1</translation>
    </message>
    <message>
        <source>Connect the module to %1</source>
        <translation>Подключите модуль к %1</translation>
    </message>
    <message numerus="yes">
        <source>Pasted %n cell(s)</source>
        <translation>
            <numerusform>Вставлена %n ячейка</numerusform>
            <numerusform>Вставлено %n ячейки</numerusform>
            <numerusform>Вставлено %n ячеек</numerusform>
        </translation>
    </message>
    <message>
        <source>Row %1, %2: %3</source>
        <translation>Строка %1, %2: %3</translation>
    </message>
    <message>
        <source>No problems</source>
        <translation>Ошибок нет</translation>
    </message>
    <message>
        <source>5 does not answer (1, 2 answer)</source>
        <translation>5 не отвечает (1, 2 отвечают)</translation>
    </message>
    <message>
        <source>Cells are pasted into the plan&apos;s columns, port to bus_ids</source>
        <translation>Ячейки вставляются в столбцы плана, от port до bus_ids</translation>
    </message>
</context>
<context>
    <name>PlanFiles</name>
    <message>
        <source>Plans (*.csv);;All files (*)</source>
        <translation>Планы (*.csv);;Все файлы (*)</translation>
    </message>
    <message>
        <source>Ordan site commissioning</source>
        <translation>Пусконаладка объекта Ordan</translation>
    </message>
    <message>
        <source>The plan has changes that are not saved.</source>
        <translation>В плане есть несохранённые изменения.</translation>
    </message>
    <message>
        <source>The table shows what the last run came to; the record %1 keeps it. Clear the table?</source>
        <translation>Таблица показывает итоги последнего запуска; они сохранены в журнале %1. Очистить таблицу?</translation>
    </message>
    <message>
        <source>Clear the results</source>
        <translation>Очистить итоги</translation>
    </message>
    <message>
        <source>Cannot open the plan %1: %2</source>
        <translation>Не удаётся открыть план %1: %2</translation>
    </message>
    <message>
        <source>Cannot read the plan %1: %2</source>
        <translation>Не удаётся прочитать план %1: %2</translation>
    </message>
    <message>
        <source>Left out of %1 (the table has no place for it): %2</source>
        <translation>Не вошло из %1 (в таблице для этого нет места): %2</translation>
    </message>
    <message numerus="yes">
        <source>Opened %1: %n row(s)</source>
        <translation>
            <numerusform>Открыт %1: %n строка</numerusform>
            <numerusform>Открыт %1: %n строки</numerusform>
            <numerusform>Открыт %1: %n строк</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 is a record: a record is only ever appended to, never saved over. Save the plan under another name.</source>
        <translation>%1 — это журнал: в журнал только дописывают, поверх него не сохраняют. Сохраните план под другим именем.</translation>
    </message>
    <message>
        <source>%1 is not a plan. Replace what it holds with the plan?</source>
        <translation>%1 — не план. Заменить его содержимое планом?</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Заменить</translation>
    </message>
    <message>
        <source>Cannot save the plan %1: %2</source>
        <translation>Не удаётся сохранить план %1: %2</translation>
    </message>
    <message>
        <source>Saved %1; the record stays %2, where the modules done so far are</source>
        <translation>Сохранено: %1; журнал остаётся %2 — там уже записанные модули</translation>
    </message>
    <message>
        <source>Saved %1</source>
        <translation>Сохранено: %1</translation>
    </message>
    <message>
        <source>%1 is a record: shown read-only</source>
        <translation>%1 — журнал: открыт только для чтения</translation>
    </message>
    <message numerus="yes">
        <source>A new plan from the record %1: %n row(s). Save it as a plan of its own; the record is not changed.</source>
        <translation>
            <numerusform>Новый план из журнала %1: %n строка. Сохраните его как отдельный план; журнал не изменён.</numerusform>
            <numerusform>Новый план из журнала %1: %n строки. Сохраните его как отдельный план; журнал не изменён.</numerusform>
            <numerusform>Новый план из журнала %1: %n строк. Сохраните его как отдельный план; журнал не изменён.</numerusform>
        </translation>
    </message>
    <message>
        <source>Cannot use the settings file %1: %2</source>
        <translation>Нельзя взять файл настроек %1: %2</translation>
    </message>
    <message>
        <source>Open a plan</source>
        <translation>Открыть план</translation>
    </message>
    <message>
        <source>Save the plan</source>
        <translation>Сохранить план</translation>
    </message>
    <message>
        <source>Base values</source>
        <translation>Базовые значения</translation>
    </message>
    <message>
        <source>Settings files (*.TRset);;All files (*)</source>
        <translation>Файлы настроек (*.TRset);;Все файлы (*)</translation>
    </message>
</context>
<context>
    <name>PlanModel</name>
    <message>
        <source>Empty: the base value %1 is written</source>
        <translation>Пусто: записывается базовое значение %1</translation>
    </message>
    <message>
        <source>Row %1 of the plan file (the header is row 1)</source>
        <translation>Строка %1 файла плана (заголовок — строка 1)</translation>
    </message>
    <message>
        <source>state</source>
        <translation>состояние</translation>
    </message>
    <message>
        <source>MAC</source>
        <translation>MAC</translation>
    </message>
    <message>
        <source>result</source>
        <translation>результат</translation>
    </message>
    <message>
        <source>The module&apos;s serial port: its /dev/serial/by-id/ alias is best, it survives the module&apos;s restart</source>
        <translation>Последовательный порт модуля: лучше его псевдоним из /dev/serial/by-id/, он не меняется при перезапуске модуля</translation>
    </message>
    <message>
        <source>IP address</source>
        <translation>IP-адрес</translation>
    </message>
    <message>
        <source>Subnet mask</source>
        <translation>Маска подсети</translation>
    </message>
    <message>
        <source>Gateway</source>
        <translation>Шлюз</translation>
    </message>
    <message>
        <source>RS-485 parity: none, odd or even</source>
        <translation>Чётность RS-485: none (нет), odd (нечёт) или even (чёт)</translation>
    </message>
    <message>
        <source>RS-485 speed, baud</source>
        <translation>Скорость RS-485, бод</translation>
    </message>
    <message>
        <source>RS-485 stop bits: 1 or 2</source>
        <translation>Стоповые биты RS-485: 1 или 2</translation>
    </message>
    <message>
        <source>Time-out for gathering a data packet: 1-10000 ms</source>
        <translation>Время ожидания пакета данных: 1-10000 мс</translation>
    </message>
    <message>
        <source>Where the row stands in the run</source>
        <translation>Где строка находится в ходе работы</translation>
    </message>
    <message>
        <source>MAC address of the module the row went to</source>
        <translation>MAC-адрес модуля, в который записана строка</translation>
    </message>
    <message>
        <source>How the row ended, and why</source>
        <translation>Чем закончилась строка и почему</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>ожидание</translation>
    </message>
    <message>
        <source>Connect the next module to %1</source>
        <translation>Подключите следующий модуль к %1</translation>
    </message>
    <message>
        <source>identifying</source>
        <translation>опознание</translation>
    </message>
    <message>
        <source>writing %1 of %2 (%3)</source>
        <translation>запись %1 из %2 (%3)</translation>
    </message>
    <message>
        <source>restarting</source>
        <translation>перезапуск</translation>
    </message>
    <message>
        <source>reading back %1 of %2</source>
        <translation>считывание %1 из %2</translation>
    </message>
    <message>
        <source>reading back</source>
        <translation>считывание</translation>
    </message>
    <message>
        <source>port</source>
        <translation>порт</translation>
    </message>
    <message>
        <source>ip</source>
        <translation>IP-адрес</translation>
    </message>
    <message>
        <source>mask</source>
        <translation>маска</translation>
    </message>
    <message>
        <source>gateway</source>
        <translation>шлюз</translation>
    </message>
    <message>
        <source>tcp_
port</source>
        <translation>порт
TCP</translation>
    </message>
    <message>
        <source>parity</source>
        <translation>чётность</translation>
    </message>
    <message>
        <source>speed</source>
        <translation>скорость</translation>
    </message>
    <message>
        <source>stop_
bits</source>
        <translation>стоп-
биты</translation>
    </message>
    <message>
        <source>packet_
timeout</source>
        <translation>тайм-аут
пакета</translation>
    </message>
    <message>
        <source>the module gave no valid value</source>
        <translation>модуль не вернул допустимого значения</translation>
    </message>
    <message>
        <source>the module has %1</source>
        <translation>в модуле: %1</translation>
    </message>
    <message>
        <source>Connect the module to %1</source>
        <translation>Подключите модуль к %1</translation>
    </message>
    <message>
        <source>%1
not connected now</source>
        <translation>%1
сейчас не подключён</translation>
    </message>
    <message>
        <source>%1
leads to %2</source>
        <translation>%1
указывает на %2</translation>
    </message>
    <message>
        <source>TCP port: %1</source>
        <translation>TCP-порт: %1</translation>
    </message>
    <message>
        <source>network</source>
        <translation>сеть</translation>
    </message>
    <message>
        <source>Whether the module answers at its address and TCP port</source>
        <translation>Отвечает ли модуль по своему адресу и TCP-порту</translation>
    </message>
    <message>
        <source>checking the network</source>
        <translation>проверка сети</translation>
    </message>
    <message>
        <source>another station&apos;s: %1</source>
        <translation>у другой станции: %1</translation>
    </message>
    <message>
        <source>bus_
ids</source>
        <translation>адреса
на шине</translation>
    </message>
    <message>
        <source>bus</source>
        <translation>шина</translation>
    </message>
    <message>
        <source>Modbus unit addresses of the devices that must answer on the module&apos;s bus, as 1,2,5 or 1-4: checked after the read-back when asked, and by Check bus</source>
        <translation>Адреса Modbus устройств, которые должны отвечать на шине модуля, например 1,2,5 или 1-4: проверяются после чтения, если это выбрано, и командой «Проверить шину»</translation>
    </message>
    <message>
        <source>Whether the devices of bus_ids answer through the module</source>
        <translation>Отвечают ли через модуль устройства из bus_ids</translation>
    </message>
    <message>
        <source>checking the bus</source>
        <translation>проверка шины</translation>
    </message>
    <message>
        <source>changed since verified</source>
        <translation>изменено после проверки</translation>
    </message>
</context>
<context>
    <name>PlanRows</name>
    <message>
        <source>edit of %1</source>
        <translation>правка %1</translation>
    </message>
    <message>
        <source>row added</source>
        <translation>добавление строки</translation>
    </message>
    <message>
        <source>rows removed</source>
        <translation>удаление строк</translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) removed</source>
        <translation>
            <numerusform>удаление %n строки</numerusform>
            <numerusform>удаление %n строк</numerusform>
            <numerusform>удаление %n строк</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) duplicated</source>
        <translation>
            <numerusform>дублирование %n строки</numerusform>
            <numerusform>дублирование %n строк</numerusform>
            <numerusform>дублирование %n строк</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n cell(s) pasted</source>
        <translation>
            <numerusform>вставка %n ячейки</numerusform>
            <numerusform>вставка %n ячеек</numerusform>
            <numerusform>вставка %n ячеек</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>PortListModel</name>
    <message>
        <source>Description: %1</source>
        <translation>Описание: %1</translation>
    </message>
    <message>
        <source>Manufacturer: %1</source>
        <translation>Производитель: %1</translation>
    </message>
    <message>
        <source>Serial number: %1</source>
        <translation>Серийный номер: %1</translation>
    </message>
</context>
<context>
    <name>PortLock</name>
    <message>
        <source>%1 is in use by another run (%2, process %3)</source>
        <translation>%1 занят другим запуском (%2, процесс %3)</translation>
    </message>
    <message>
        <source>%1 is in use by another run</source>
        <translation>%1 занят другим запуском</translation>
    </message>
    <message>
        <source>cannot lock %1: %2</source>
        <translation>не удаётся заблокировать %1: %2</translation>
    </message>
    <message>
        <source>the lock file %1 is a symbolic link</source>
        <translation>файл блокировки %1 — символическая ссылка</translation>
    </message>
    <message>
        <source>the lock file %1: %2</source>
        <translation>файл блокировки %1: %2</translation>
    </message>
    <message>
        <source>the lock file %1 keeps changing</source>
        <translation>файл блокировки %1 всё время меняется</translation>
    </message>
    <message>
        <source>the lock file %1 is not a plain file of its own</source>
        <translation>файл блокировки %1 — не обычный файл с единственным именем</translation>
    </message>
    <message>
        <source>the lock file %1 belongs to %2 and others may not write it</source>
        <translation>файл блокировки %1 принадлежит %2, и другим запись в него запрещена</translation>
    </message>
    <message>
        <source>the lock directory %1: %2</source>
        <translation>каталог блокировок %1: %2</translation>
    </message>
    <message>
        <source>the lock directory %1 is a symbolic link</source>
        <translation>каталог блокировок %1 — символическая ссылка</translation>
    </message>
    <message>
        <source>the lock directory %1 is not a directory</source>
        <translation>каталог блокировок %1 — не каталог</translation>
    </message>
    <message>
        <source>the lock directory %1 belongs to %2, not to root or to you</source>
        <translation>каталог блокировок %1 принадлежит %2, а не root и не вам</translation>
    </message>
    <message>
        <source>others may replace the files in the lock directory %1 (it is writable by them and not sticky)</source>
        <translation>другие могут подменить файлы в каталоге блокировок %1 (он доступен им на запись и без sticky-бита)</translation>
    </message>
    <message>
        <source>cannot lock %1: the lock file %2 keeps changing</source>
        <translation>не удаётся заблокировать %1: файл блокировки %2 всё время меняется</translation>
    </message>
    <message>
        <source>%1 is held by another program</source>
        <translation>%1 занят другой программой</translation>
    </message>
    <message>
        <source>%1 is held by another program (%2, process %3)</source>
        <translation>%1 занят другой программой (%2, процесс %3)</translation>
    </message>
    <message>
        <source>%1 is held by another program (process %2)</source>
        <translation>%1 занят другой программой (процесс %2)</translation>
    </message>
    <message>
        <source>cannot lock the device of %1: %2</source>
        <translation>не удаётся заблокировать устройство %1: %2</translation>
    </message>
</context>
<context>
    <name>ReachCheck</name>
    <message>
        <source>nothing came back within %1 s</source>
        <translation>за %1 с ответа не пришло</translation>
    </message>
    <message>
        <source>reachable (%1 ms)</source>
        <translation>доступен (%1 мс)</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>отказ</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>unreachable</source>
        <translation>недоступен</translation>
    </message>
    <message>
        <source>not checked</source>
        <translation>не проверен</translation>
    </message>
</context>
<context>
    <name>ReadJob</name>
    <message>
        <source>the module did not answer</source>
        <translation>модуль не ответил</translation>
    </message>
</context>
<context>
    <name>RecordField</name>
    <message>
        <source>Rec&amp;ord:</source>
        <translation>&amp;Журнал:</translation>
    </message>
    <message>
        <source>a record is always kept: choose its file</source>
        <translation>журнал ведётся всегда: выберите его файл</translation>
    </message>
    <message>
        <source>Choo&amp;se…</source>
        <translation>Выб&amp;рать…</translation>
    </message>
    <message>
        <source>O&amp;pen</source>
        <translation>О&amp;ткрыть</translation>
    </message>
    <message>
        <source>Opens the record in the desktop&apos;s program for CSV files</source>
        <translation>Открывает журнал в программе для CSV-файлов</translation>
    </message>
    <message>
        <source>%1 is shown read-only: close it to run into it</source>
        <translation>%1 открыт для просмотра: закройте его, чтобы записывать в него</translation>
    </message>
    <message>
        <source>A CSV file that gets one row per module as soon as it is done: its MAC address, the values read back and the result</source>
        <translation>CSV-файл, в который по каждому модулю сразу по его окончании добавляется строка: MAC-адрес, считанные значения и результат</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Журнал</translation>
    </message>
    <message>
        <source>Records (*.csv);;All files (*)</source>
        <translation>Журналы (*.csv);;Все файлы (*)</translation>
    </message>
    <message>
        <source>No program to open %1</source>
        <translation>Нет программы, чтобы открыть %1</translation>
    </message>
</context>
<context>
    <name>RecordView</name>
    <message>
        <source>%1 (a record, read-only)</source>
        <translation>%1 (журнал, только чтение)</translation>
    </message>
    <message>
        <source>This is a commissioning record, not a plan: it is only ever appended to by a run, so it opens read-only. Its rows can start a new plan.</source>
        <translation>Это журнал пусконаладки, а не план: запуск только дописывает в него строки, поэтому он открыт только для чтения. Из его строк можно начать новый план.</translation>
    </message>
    <message>
        <source>&amp;New plan from this record</source>
        <translation>&amp;Новый план из этого журнала</translation>
    </message>
    <message>
        <source>A new plan, without a file yet, of the record&apos;s ports and planned values; the record itself stays as it is</source>
        <translation>Новый план, ещё без файла, из портов и плановых значений журнала; сам журнал остаётся как есть</translation>
    </message>
    <message>
        <source>Cannot read the record: %1</source>
        <translation>Не удаётся прочитать журнал: %1</translation>
    </message>
</context>
<context>
    <name>RecordWords</name>
    <message>
        <source>verified</source>
        <translation>проверено</translation>
    </message>
    <message>
        <source>unverified</source>
        <translation>не проверено</translation>
    </message>
    <message>
        <source>matches</source>
        <translation>совпадает</translation>
    </message>
    <message>
        <source>verified, not rewritten</source>
        <translation>проверено, не перезаписано</translation>
    </message>
    <message>
        <source>port in use</source>
        <translation>порт занят</translation>
    </message>
    <message>
        <source>port not opened</source>
        <translation>порт не открыт</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>прервано</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>not identified</source>
        <translation>не опознан</translation>
    </message>
    <message>
        <source>not a new module</source>
        <translation>не новый модуль</translation>
    </message>
    <message>
        <source>already verified</source>
        <translation>уже проверен</translation>
    </message>
    <message>
        <source>address held</source>
        <translation>адрес занят</translation>
    </message>
    <message>
        <source>register unavailable</source>
        <translation>реестр недоступен</translation>
    </message>
    <message>
        <source>claim lost</source>
        <translation>строка перехвачена</translation>
    </message>
    <message>
        <source>invalid configuration</source>
        <translation>недопустимая конфигурация</translation>
    </message>
    <message>
        <source>refused: reset</source>
        <translation>отказ: перезапуск</translation>
    </message>
    <message>
        <source>did not restart</source>
        <translation>не перезапустился</translation>
    </message>
    <message>
        <source>no answer after restart</source>
        <translation>нет ответа после перезапуска</translation>
    </message>
    <message>
        <source>not identified after restart</source>
        <translation>не опознан после перезапуска</translation>
    </message>
    <message>
        <source>verified on the console, address not known</source>
        <translation>проверено через консоль, адрес неизвестен</translation>
    </message>
    <message>
        <source>not reached</source>
        <translation>не выполнено</translation>
    </message>
    <message>
        <source>done already</source>
        <translation>уже сделано</translation>
    </message>
    <message>
        <source>%1, not in the register</source>
        <translation>%1, нет в реестре</translation>
    </message>
    <message>
        <source>%1 after the restart command</source>
        <translation>%1 после команды перезапуска</translation>
    </message>
    <message>
        <source>%1 after sending %2; no restart was sent</source>
        <translation>%1 после отправки: %2; перезапуск не отправлен</translation>
    </message>
    <message>
        <source>refused: %1</source>
        <translation>отказ: %1</translation>
    </message>
    <message>
        <source>different module: %1</source>
        <translation>другой модуль: %1</translation>
    </message>
    <message>
        <source>differs: %1</source>
        <translation>отличается: %1</translation>
    </message>
    <message>
        <source>mismatch: %1</source>
        <translation>не совпадает: %1</translation>
    </message>
    <message>
        <source>verified on the console, not reachable at %1 (%2)</source>
        <translation>проверено через консоль, недоступен по адресу %1 (%2)</translation>
    </message>
    <message>
        <source>matches on the console, not reachable at %1 (%2)</source>
        <translation>совпадает по консоли, недоступен по адресу %1 (%2)</translation>
    </message>
    <message>
        <source>verified on the console, reachable, bus: %1</source>
        <translation>проверено через консоль, доступен в сети, шина: %1</translation>
    </message>
    <message>
        <source>matches on the console, reachable, bus: %1</source>
        <translation>совпадает по консоли, доступен в сети, шина: %1</translation>
    </message>
    <message>
        <source>time</source>
        <translation>время</translation>
    </message>
    <message>
        <source>port</source>
        <translation>порт</translation>
    </message>
    <message>
        <source>result</source>
        <translation>результат</translation>
    </message>
    <message>
        <source>row</source>
        <translation>строка</translation>
    </message>
    <message>
        <source>planned</source>
        <translation>по плану</translation>
    </message>
    <message>
        <source>bus</source>
        <translation>шина</translation>
    </message>
    <message>
        <source>bus_ids</source>
        <translation>адреса на шине</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>odd</source>
        <translation>нечёт</translation>
    </message>
    <message>
        <source>even</source>
        <translation>чёт</translation>
    </message>
</context>
<context>
    <name>RegisterView</name>
    <message>
        <source>Site register</source>
        <translation>Реестр объекта</translation>
    </message>
    <message>
        <source>the user&apos;s file, or ORDAN_REGISTER when set</source>
        <translation>файл пользователя или ORDAN_REGISTER, если задан</translation>
    </message>
    <message>
        <source>A team&apos;s register: postgresql://USER@HOST/DB (the password in ~/.pgpass, never here); or a SQLite file</source>
        <translation>Реестр бригады: postgresql://ПОЛЬЗОВАТЕЛЬ@СЕРВЕР/БАЗА (пароль — в ~/.pgpass, никогда не здесь); или файл SQLite</translation>
    </message>
    <message>
        <source>&amp;Use</source>
        <translation>&amp;Использовать</translation>
    </message>
    <message>
        <source>a MAC, an address, a station, a plan…</source>
        <translation>MAC, адрес, станция, план…</translation>
    </message>
    <message>
        <source>MAC</source>
        <translation>MAC</translation>
    </message>
    <message>
        <source>IP address</source>
        <translation>IP-адрес</translation>
    </message>
    <message>
        <source>Verified</source>
        <translation>Проверен</translation>
    </message>
    <message>
        <source>Station</source>
        <translation>Станция</translation>
    </message>
    <message>
        <source>Plan</source>
        <translation>План</translation>
    </message>
    <message>
        <source>Row</source>
        <translation>Строка</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Порт</translation>
    </message>
    <message>
        <source>Replaced by</source>
        <translation>Заменён на</translation>
    </message>
    <message>
        <source>Last seen</source>
        <translation>Последний раз</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Время</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Результат</translation>
    </message>
    <message>
        <source>&amp;Register:</source>
        <translation>&amp;Реестр:</translation>
    </message>
    <message>
        <source>&amp;Search:</source>
        <translation>&amp;Поиск:</translation>
    </message>
    <message>
        <source>Re&amp;load</source>
        <translation>&amp;Обновить</translation>
    </message>
    <message>
        <source>No register is used (--no-register).</source>
        <translation>Реестр не используется (--no-register).</translation>
    </message>
    <message numerus="yes">
        <source>%1: %n module(s)</source>
        <translation>
            <numerusform>%1: %n модуль</numerusform>
            <numerusform>%1: %n модуля</numerusform>
            <numerusform>%1: %n модулей</numerusform>
        </translation>
    </message>
    <message>
        <source>Reading the register %1…</source>
        <translation>Чтение реестра %1…</translation>
    </message>
    <message numerus="yes">
        <source>%1: %n module(s) found of %2</source>
        <translation>
            <numerusform>%1: найден %n модуль из %2</numerusform>
            <numerusform>%1: найдено %n модуля из %2</numerusform>
            <numerusform>%1: найдено %n модулей из %2</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>RestartJob</name>
    <message>
        <source>the module did not answer; nothing was sent</source>
        <translation>модуль не ответил; ничего не отправлено</translation>
    </message>
    <message>
        <source>not identified: %1; nothing was sent</source>
        <translation>модуль не опознан: %1; ничего не отправлено</translation>
    </message>
    <message>
        <source>the link was lost before the command could be sent</source>
        <translation>связь потеряна до отправки команды</translation>
    </message>
    <message>
        <source>the module refused %1 (it replied &quot;%2&quot;)</source>
        <translation>модуль отклонил %1 (ответил «%2»)</translation>
    </message>
    <message>
        <source>the module did not restart: it kept answering for %1 s</source>
        <translation>модуль не перезапустился: он продолжал отвечать в течение %1 с</translation>
    </message>
    <message>
        <source>the module did not come back within %1 s</source>
        <translation>модуль не вышел снова на связь за %1 с</translation>
    </message>
    <message>
        <source>not identified after the restart: %1</source>
        <translation>после перезапуска модуль не опознан: %1</translation>
    </message>
    <message>
        <source>a different module answered after the restart: MAC %1, not %2</source>
        <translation>после перезапуска ответил другой модуль: MAC %1, а не %2</translation>
    </message>
</context>
<context>
    <name>RowWording</name>
    <message>
        <source>the record was closed</source>
        <translation>журнал закрыт</translation>
    </message>
    <message>
        <source>the register was closed</source>
        <translation>реестр закрыт</translation>
    </message>
    <message>
        <source>no new module on the port within %1 s</source>
        <translation>за %1 с к порту не подключён новый модуль</translation>
    </message>
    <message>
        <source>the module %1 was already met in this run (row %2)</source>
        <translation>модуль %1 уже встречался в этом запуске (строка %2)</translation>
    </message>
    <message>
        <source>port not opened</source>
        <translation>порт не открыт</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>отказ</translation>
    </message>
    <message>
        <source>invalid configuration</source>
        <translation>недопустимая конфигурация</translation>
    </message>
    <message>
        <source>another module</source>
        <translation>другой модуль</translation>
    </message>
    <message>
        <source>not recorded</source>
        <translation>не записано в журнал</translation>
    </message>
    <message numerus="yes">
        <source>%n parameter(s) as planned</source>
        <translation>
            <numerusform>%n параметр как в плане</numerusform>
            <numerusform>%n параметра как в плане</numerusform>
            <numerusform>%n параметров как в плане</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n parameter(s) written, not read back</source>
        <translation>
            <numerusform>%n параметр записан, не прочитан обратно</numerusform>
            <numerusform>%n параметра записаны, не прочитаны обратно</numerusform>
            <numerusform>%n параметров записаны, не прочитаны обратно</numerusform>
        </translation>
    </message>
    <message>
        <source>the module holds the planned values</source>
        <translation>в модуле значения по плану</translation>
    </message>
    <message>
        <source>(missing)</source>
        <translation>(нет)</translation>
    </message>
    <message>
        <source>%1: planned %2, the module has %3</source>
        <translation>%1: по плану %2, в модуле %3</translation>
    </message>
    <message>
        <source>%1: written %2, read %3</source>
        <translation>%1: записано %2, считано %3</translation>
    </message>
    <message>
        <source>stopped after the restart command</source>
        <translation>остановлено после команды перезапуска</translation>
    </message>
    <message>
        <source>stopped after sending %1; no restart was sent</source>
        <translation>остановлено после отправки: %1; перезапуск не отправлен</translation>
    </message>
    <message>
        <source>stopped before anything was written</source>
        <translation>остановлено до записи</translation>
    </message>
    <message>
        <source>the module is right, but the record lacks its row</source>
        <translation>модуль настроен верно, но его строки нет в журнале</translation>
    </message>
    <message>
        <source> (not allowed to use the port: add yourself to the group that owns it, usually dialout, then log in again; or another program holds it)</source>
        <translation> (нет прав на порт: добавьте себя в группу-владельца порта, обычно dialout, и войдите в систему заново; или порт занят другой программой)</translation>
    </message>
    <message>
        <source>not reachable</source>
        <translation>недоступен в сети</translation>
    </message>
    <message>
        <source>%1; nothing was written</source>
        <translation>%1; ничего не записано</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>прервано</translation>
    </message>
    <message>
        <source>the module did not answer; nothing was written</source>
        <translation>модуль не ответил; ничего не записано</translation>
    </message>
    <message>
        <source>not identified: %1; nothing was written</source>
        <translation>модуль не опознан: %1; ничего не записано</translation>
    </message>
    <message>
        <source>the module did not give its %1, so the configuration it would run cannot be checked; nothing was written</source>
        <translation>модуль не сообщил значение «%1», поэтому нельзя проверить конфигурацию, с которой он будет работать; ничего не записано</translation>
    </message>
    <message>
        <source>the module holds %1 &quot;%2&quot;, which is not %3: give the %1 to write</source>
        <translation>в модуле «%1» = «%2», а %3 — задайте «%1» для записи</translation>
    </message>
    <message>
        <source>no reply to the %1 command</source>
        <translation>нет ответа на команду записи «%1»</translation>
    </message>
    <message>
        <source>the module refused %1 %2 (it replied &quot;%3&quot; instead of &quot;ok&quot;)</source>
        <translation>модуль отклонил значение %2 для «%1» (ответил «%3» вместо «ok»)</translation>
    </message>
    <message>
        <source>the link was lost before the restart command could be sent</source>
        <translation>связь потеряна до отправки команды перезапуска</translation>
    </message>
    <message>
        <source>the module refused the restart (it replied &quot;%1&quot;); the values written are not in effect</source>
        <translation>модуль отклонил перезапуск (ответил «%1»); записанные значения не вступили в силу</translation>
    </message>
    <message>
        <source>the module did not restart: it kept answering for %1 s after the restart command</source>
        <translation>модуль не перезапустился: после команды перезапуска он продолжал отвечать в течение %1 с</translation>
    </message>
    <message>
        <source>the module did not come back within %1 s</source>
        <translation>модуль не вышел снова на связь за %1 с</translation>
    </message>
    <message>
        <source>the module answered no query</source>
        <translation>модуль не ответил ни на один запрос</translation>
    </message>
    <message>
        <source>the module answered no query after its restart</source>
        <translation>после перезапуска модуль не ответил ни на один запрос</translation>
    </message>
    <message>
        <source>not identified: %1, so it may be another module</source>
        <translation>модуль не опознан: %1, возможно, это другой модуль</translation>
    </message>
    <message>
        <source>not identified after its restart: %1, so it may be another module</source>
        <translation>после перезапуска модуль не опознан: %1, возможно, это другой модуль</translation>
    </message>
    <message>
        <source>a different module answered: MAC %1, not %2</source>
        <translation>ответил другой модуль: MAC %1, а не %2</translation>
    </message>
    <message>
        <source>a different module answered after its restart: MAC %1, not %2</source>
        <translation>после перезапуска ответил другой модуль: MAC %1, а не %2</translation>
    </message>
    <message>
        <source>the module differs from the plan: %1</source>
        <translation>модуль отличается от плана: %1</translation>
    </message>
    <message>
        <source>the module holds other values than written: %1</source>
        <translation>значения в модуле отличаются от записанных: %1</translation>
    </message>
    <message>
        <source>verified on the console, but its address and TCP port are not known (%1), so it cannot be reached</source>
        <translation>проверен через консоль, но его адрес и TCP-порт неизвестны (%1), поэтому подключиться к нему нельзя</translation>
    </message>
    <message>
        <source>verified on the console, not reachable at %1 (%2)</source>
        <translation>проверен через консоль, но недоступен по адресу %1 (%2)</translation>
    </message>
    <message>
        <source>address not known</source>
        <translation>адрес неизвестен</translation>
    </message>
    <message>
        <source>%1; already sent %2, no restart was sent</source>
        <translation>%1; уже отправлено: %2, перезапуск не отправлен</translation>
    </message>
    <message>
        <source>name</source>
        <comment>a module&apos;s parameter</comment>
        <translation>имя</translation>
    </message>
    <message>
        <source>version</source>
        <comment>a module&apos;s parameter</comment>
        <translation>версия</translation>
    </message>
    <message>
        <source>mac</source>
        <comment>a module&apos;s parameter</comment>
        <translation>MAC</translation>
    </message>
    <message>
        <source>ip</source>
        <comment>a module&apos;s parameter</comment>
        <translation>IP-адрес</translation>
    </message>
    <message>
        <source>mask</source>
        <comment>a module&apos;s parameter</comment>
        <translation>маска</translation>
    </message>
    <message>
        <source>gateway</source>
        <comment>a module&apos;s parameter</comment>
        <translation>шлюз</translation>
    </message>
    <message>
        <source>tcp_port</source>
        <comment>a module&apos;s parameter</comment>
        <translation>TCP-порт</translation>
    </message>
    <message>
        <source>parity</source>
        <comment>a module&apos;s parameter</comment>
        <translation>чётность</translation>
    </message>
    <message>
        <source>speed</source>
        <comment>a module&apos;s parameter</comment>
        <translation>скорость</translation>
    </message>
    <message>
        <source>stop_bits</source>
        <comment>a module&apos;s parameter</comment>
        <translation>стоповые биты</translation>
    </message>
    <message>
        <source>packet_timeout</source>
        <comment>a module&apos;s parameter</comment>
        <translation>время ожидания пакета</translation>
    </message>
    <message>
        <source>%1 on the module, but the register lacks its row: %2</source>
        <translation>на модуле — %1, но в реестре нет его строки: %2</translation>
    </message>
    <message>
        <source>matches</source>
        <translation>совпадает</translation>
    </message>
    <message>
        <source>verified</source>
        <translation>проверено</translation>
    </message>
    <message>
        <source>verified elsewhere</source>
        <translation>проверен в другом месте</translation>
    </message>
    <message>
        <source>address held</source>
        <translation>адрес занят</translation>
    </message>
    <message>
        <source>register</source>
        <translation>реестр</translation>
    </message>
    <message>
        <source>taken over</source>
        <translation>перехвачено</translation>
    </message>
    <message>
        <source>the planned values, read back</source>
        <translation>значения плана, прочитаны</translation>
    </message>
    <message>
        <source>not rewritten: it already held the planned values, %1</source>
        <translation>не перезаписан: значения плана в нём уже были, %1</translation>
    </message>
    <message>
        <source>rewritten: %1</source>
        <translation>перезаписан: %1</translation>
    </message>
    <message>
        <source>matches on the console, not reachable at %1 (%2)</source>
        <translation>совпадает с планом по консоли, но недоступен по адресу %1 (%2)</translation>
    </message>
    <message>
        <source>matches on the console, reachable, bus: %1</source>
        <translation>совпадает с планом по консоли, доступен в сети, шина: %1</translation>
    </message>
    <message>
        <source>verified on the console, reachable, bus: %1</source>
        <translation>проверен через консоль, доступен в сети, шина: %1</translation>
    </message>
    <message>
        <source>devices missing on the bus</source>
        <translation>не все устройства на шине</translation>
    </message>
    <message>
        <source>unverified</source>
        <translation>не проверено</translation>
    </message>
    <message>
        <source>differs</source>
        <translation>отличается</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>ошибка</translation>
    </message>
    <message>
        <source>not reached</source>
        <translation>не выполнено</translation>
    </message>
    <message>
        <source>done already</source>
        <translation>уже сделано</translation>
    </message>
    <message>
        <source>%1 planned %2, module has %3</source>
        <translation>%1: по плану %2, в модуле %3</translation>
    </message>
    <message>
        <source>%1 on the module, but the record lacks its row (%2)</source>
        <translation>%1 в модуле, но в журнале нет его строки (%2)</translation>
    </message>
</context>
<context>
    <name>RunPanel</name>
    <message>
        <source>&amp;Start</source>
        <translation>&amp;Пуск</translation>
    </message>
    <message>
        <source>&amp;Check only</source>
        <translation>&amp;Только проверка</translation>
    </message>
    <message>
        <source>S&amp;top</source>
        <translation>&amp;Стоп</translation>
    </message>
    <message>
        <source>Stop…</source>
        <translation>Стоп…</translation>
    </message>
    <message>
        <source>Run this row &amp;again</source>
        <translation>Запустить эту строку &amp;снова</translation>
    </message>
    <message>
        <source>Check each module on the &amp;network after its read-back</source>
        <translation>Проверять каждый модуль в &amp;сети после чтения</translation>
    </message>
    <message>
        <source>A module verified on its console must then answer at its address and TCP port (tried for up to %1 s while its network comes up); otherwise its row fails. Needs this computer on the site&apos;s network.</source>
        <translation>Модуль, проверенный через консоль, должен затем ответить по своему адресу и TCP-порту (попытки до %1 с, пока поднимается его сеть); иначе строка не выполнена. Нужно, чтобы этот компьютер был в сети объекта.</translation>
    </message>
    <message>
        <source>Check only</source>
        <translation>Только проверка</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Пуск</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Стоп</translation>
    </message>
    <message>
        <source>Ends the run: the rows in hand are interrupted, the others not reached (Esc)</source>
        <translation>Прекращает работу: начатые строки прерываются, остальные не выполняются (Esc)</translation>
    </message>
    <message>
        <source>Ordan site commissioning</source>
        <translation>Пусконаладка объекта Ordan</translation>
    </message>
    <message>
        <source>Stop the run? The modules in hand are recorded as interrupted; the rows not begun are not reached.</source>
        <translation>Остановить запуск? Модули в работе будут записаны в журнал как прерванные, не начатые строки — как не достигнутые.</translation>
    </message>
    <message>
        <source>Stop the run</source>
        <translation>Остановить запуск</translation>
    </message>
    <message>
        <source>Go on</source>
        <translation>Продолжить</translation>
    </message>
    <message>
        <source>A run is going on</source>
        <translation>Идёт работа с модулями</translation>
    </message>
    <message numerus="yes">
        <source>The plan has %n problem(s): F8 goes to the next</source>
        <translation>
            <numerusform>В плане %n ошибка: F8 — к следующей</numerusform>
            <numerusform>В плане %n ошибки: F8 — к следующей</numerusform>
            <numerusform>В плане %n ошибок: F8 — к следующей</numerusform>
        </translation>
    </message>
    <message>
        <source>The record cannot be kept: %1</source>
        <translation>Журнал вести нельзя: %1</translation>
    </message>
    <message>
        <source>Writes every row of the plan to its module, restarts it, reads it back and compares (F5)</source>
        <translation>Записывает каждую строку плана в её модуль, перезапускает его, считывает обратно и сравнивает (F5)</translation>
    </message>
    <message>
        <source>Reads every module of the plan and compares it with the plan; writes nothing (F6)</source>
        <translation>Считывает каждый модуль плана и сравнивает с планом; ничего не записывает (F6)</translation>
    </message>
    <message>
        <source>Record: %1</source>
        <translation>Журнал: %1</translation>
    </message>
    <message>
        <source>Nothing was started: %1</source>
        <translation>Ничего не запущено: %1</translation>
    </message>
    <message>
        <source>No problems: ready to start</source>
        <translation>Ошибок нет: можно начинать</translation>
    </message>
    <message numerus="yes">
        <source>%n problem(s)</source>
        <translation>
            <numerusform>%n ошибка</numerusform>
            <numerusform>%n ошибки</numerusform>
            <numerusform>%n ошибок</numerusform>
        </translation>
    </message>
    <message>
        <source> (F8 goes to the next)</source>
        <translation> (F8 — к следующей)</translation>
    </message>
    <message>
        <source>&amp;Replace this row&apos;s module…</source>
        <translation>&amp;Заменить модуль этой строки…</translation>
    </message>
    <message>
        <source>Writes the values the register knows for the row&apos;s module to the module now on its port, verifies them, and records it as its replacement</source>
        <translation>Записывает значения, которые реестр знает для модуля строки, в модуль, подключённый сейчас к её порту, проверяет их и отмечает его как замену</translation>
    </message>
    <message>
        <source>Replace a module</source>
        <translation>Замена модуля</translation>
    </message>
    <message>
        <source>Nothing to replace: %1.</source>
        <translation>Нечего заменять: %1.</translation>
    </message>
    <message>
        <source>Replace %1, %2, with the module now on %3?</source>
        <translation>Заменить %1, %2, модулем, подключённым сейчас к %3?</translation>
    </message>
    <message>
        <source>The new module is written with its values, restarted, read back and recorded as its replacement.</source>
        <translation>В новый модуль записываются его значения; он перезапускается, считывается и отмечается как замена.</translation>
    </message>
    <message>
        <source>Check the &amp;devices on each module&apos;s bus after its read-back</source>
        <translation>Проверять &amp;устройства на шине каждого модуля после чтения</translation>
    </message>
    <message>
        <source>A module reachable on the network (this includes the network check) must then carry the devices of its row&apos;s bus_ids: each must answer through it, or its row fails. Rows without bus_ids are not asked.</source>
        <translation>Модуль, доступный в сети (это включает проверку сети), должен затем связывать устройства из bus_ids своей строки: каждое должно ответить через него, иначе строка не выполнена. Строки без bus_ids не опрашиваются.</translation>
    </message>
    <message>
        <source>Asking the register about row %1…</source>
        <translation>Запрос к реестру о строке %1…</translation>
    </message>
</context>
<context>
    <name>RunRegister</name>
    <message>
        <source>the window&apos;s plan</source>
        <translation>план окна</translation>
    </message>
    <message>
        <source>Write this module?</source>
        <translation>Записать этот модуль?</translation>
    </message>
    <message>
        <source>Row %1: %2.</source>
        <translation>Строка %1: %2.</translation>
    </message>
    <message>
        <source>Write it with the row&apos;s values anyway? The register notes the rewrite. Otherwise nothing is written and the row stops.</source>
        <translation>Всё равно записать в него значения строки? Реестр отметит перезапись. Иначе ничего не записывается и строка останавливается.</translation>
    </message>
    <message>
        <source>&amp;Write it</source>
        <translation>&amp;Записать</translation>
    </message>
    <message>
        <source>&amp;Stop the row</source>
        <translation>&amp;Остановить строку</translation>
    </message>
    <message>
        <source>the row is not a checked row of the plan</source>
        <translation>строка не входит в проверенный план</translation>
    </message>
    <message>
        <source>no register is used</source>
        <translation>реестр не используется</translation>
    </message>
    <message>
        <source>the register knows no module of row %1</source>
        <translation>реестр не знает модуля строки %1</translation>
    </message>
</context>
<context>
    <name>SiteChecks</name>
    <message>
        <source>Check &amp;network</source>
        <translation>Проверить &amp;сеть</translation>
    </message>
    <message>
        <source>Check network</source>
        <translation>Проверить сеть</translation>
    </message>
    <message>
        <source>The network check is going on</source>
        <translation>Идёт проверка сети</translation>
    </message>
    <message>
        <source>Tries every row&apos;s address and TCP port on the network, sending nothing (F7)</source>
        <translation>Пробует адрес и TCP-порт каждой строки в сети, ничего не отправляя (F7)</translation>
    </message>
    <message>
        <source>A run is going on</source>
        <translation>Идёт работа с модулями</translation>
    </message>
    <message>
        <source>checking…</source>
        <translation>проверка…</translation>
    </message>
    <message>
        <source>no address and TCP port</source>
        <translation>нет адреса и TCP-порта</translation>
    </message>
    <message>
        <source>Network checked: %1 of %2 reachable</source>
        <translation>Сеть проверена: доступно %1 из %2</translation>
    </message>
    <message>
        <source>Checking the network…</source>
        <translation>Проверка сети…</translation>
    </message>
    <message>
        <source>Check &amp;bus</source>
        <translation>Проверить &amp;шину</translation>
    </message>
    <message>
        <source>Check bus</source>
        <translation>Проверить шину</translation>
    </message>
    <message>
        <source>Asks the devices of every row&apos;s bus_ids through its module&apos;s address and TCP port, reading one register each; writes nothing (F9)</source>
        <translation>Опрашивает устройства из bus_ids каждой строки через адрес и TCP-порт её модуля, читая по одному регистру; ничего не записывает (F9)</translation>
    </message>
    <message>
        <source>The bus check is going on</source>
        <translation>Идёт проверка шины</translation>
    </message>
    <message>
        <source>No row names bus_ids: there is no bus to check</source>
        <translation>Ни в одной строке нет bus_ids: проверять нечего</translation>
    </message>
    <message>
        <source>asking unit %1…</source>
        <translation>опрос устройства %1…</translation>
    </message>
    <message>
        <source>Bus checked: every device answers in %1 of %2 rows</source>
        <translation>Шина проверена: все устройства отвечают в %1 из %2 строк</translation>
    </message>
    <message>
        <source>Checking the bus: %1 of %2 rows done…</source>
        <translation>Проверка шины: готово %1 из %2 строк…</translation>
    </message>
</context>
<context>
    <name>SiteRun</name>
    <message numerus="yes">
        <source>The plan has %n problem(s): nothing was started</source>
        <translation>
            <numerusform>В плане %n ошибка: ничего не запущено</numerusform>
            <numerusform>В плане %n ошибки: ничего не запущено</numerusform>
            <numerusform>В плане %n ошибок: ничего не запущено</numerusform>
        </translation>
    </message>
    <message>
        <source>Cannot append to the record %1: %2</source>
        <translation>Не удаётся дописать в журнал %1: %2</translation>
    </message>
    <message>
        <source>Nothing was started: %1</source>
        <translation>Ничего не запущено: %1</translation>
    </message>
    <message numerus="yes">
        <source>Checking %n module(s)…</source>
        <translation>
            <numerusform>Проверка %n модуля…</numerusform>
            <numerusform>Проверка %n модулей…</numerusform>
            <numerusform>Проверка %n модулей…</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Commissioning %n module(s)…</source>
        <translation>
            <numerusform>Настройка %n модуля…</numerusform>
            <numerusform>Настройка %n модулей…</numerusform>
            <numerusform>Настройка %n модулей…</numerusform>
        </translation>
    </message>
    <message>
        <source>Stopping…</source>
        <translation>Остановка…</translation>
    </message>
    <message>
        <source>This module, %1, was done in row %2: connect the next one</source>
        <translation>Этот модуль, %1, уже обработан в строке %2: подключите следующий</translation>
    </message>
    <message>
        <source>%1 (row %2)</source>
        <translation>%1 (строка %2)</translation>
    </message>
    <message>
        <source>Checking: %1 of %2 rows done, %3 match, %4 not</source>
        <translation>Проверка: готово %1 из %2 строк, совпадают %3, не совпадают %4</translation>
    </message>
    <message>
        <source>Running: %1 of %2 rows done, %3 verified, %4 failed</source>
        <translation>Идёт настройка: готово %1 из %2 строк, проверено %3, с ошибкой %4</translation>
    </message>
    <message>
        <source>Check ended: %1 match, %2 differ or failed, %3 not reached</source>
        <translation>Проверка окончена: совпадают %1, отличаются или с ошибкой %2, не выполнено %3</translation>
    </message>
    <message>
        <source>Run ended: %1 verified, %2 failed, %3 not reached</source>
        <translation>Настройка окончена: проверено %1, с ошибкой %2, не выполнено %3</translation>
    </message>
    <message>
        <source>The register cannot be used: %1</source>
        <translation>Реестр нельзя использовать: %1</translation>
    </message>
    <message>
        <source>Stopped before anything was sent</source>
        <translation>Остановлено до отправки каких-либо команд</translation>
    </message>
    <message>
        <source>Connect a module to each: %1</source>
        <translation>Подключите модуль к каждому: %1</translation>
    </message>
    <message>
        <source>Opening the register %1…</source>
        <translation>Открытие реестра %1…</translation>
    </message>
</context>
<context>
    <name>SiteWindow</name>
    <message>
        <source>&amp;New plan</source>
        <translation>&amp;Новый план</translation>
    </message>
    <message>
        <source>&amp;Open plan…</source>
        <translation>&amp;Открыть план…</translation>
    </message>
    <message>
        <source>&amp;Save plan</source>
        <translation>&amp;Сохранить план</translation>
    </message>
    <message>
        <source>Save plan &amp;as…</source>
        <translation>Сохранить план &amp;как…</translation>
    </message>
    <message>
        <source>&amp;Base values from a settings file…</source>
        <translation>&amp;Базовые значения из файла настроек…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>В&amp;ыход</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Файл</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Правка</translation>
    </message>
    <message>
        <source>&amp;Run</source>
        <translation>&amp;Запуск</translation>
    </message>
    <message>
        <source>Plan</source>
        <translation>План</translation>
    </message>
    <message>
        <source>&amp;Base values:</source>
        <translation>&amp;Базовые значения:</translation>
    </message>
    <message>
        <source>none: a parameter left empty in a row is not written</source>
        <translation>нет: параметр, пустой в строке, не записывается</translation>
    </message>
    <message>
        <source>C&amp;hoose…</source>
        <translation>&amp;Выбрать…</translation>
    </message>
    <message>
        <source>C&amp;lear</source>
        <translation>О&amp;чистить</translation>
    </message>
    <message>
        <source>Values for the cells left empty, as ordan-cli&apos;s --from</source>
        <translation>Значения для пустых ячеек, как --from у ordan-cli</translation>
    </message>
    <message>
        <source>New plan</source>
        <translation>Новый план</translation>
    </message>
    <message>
        <source>Ordan site commissioning</source>
        <translation>Пусконаладка объекта Ordan</translation>
    </message>
    <message>
        <source>A run is going on. Stop it and quit? The modules in hand are recorded as interrupted.</source>
        <translation>Идёт работа с модулями. Остановить её и выйти? Модули, с которыми идёт работа, будут записаны в журнал как прерванные.</translation>
    </message>
    <message>
        <source>Stop and quit</source>
        <translation>Остановить и выйти</translation>
    </message>
    <message>
        <source>Go on</source>
        <translation>Продолжить</translation>
    </message>
    <message>
        <source>&amp;Register…</source>
        <translation>&amp;Реестр…</translation>
    </message>
    <message>
        <source>What the site register knows: every module commissioned, where and at what it was verified, and its history</source>
        <translation>Что знает реестр объекта: каждый настроенный модуль, где и с какими значениями он проверен, и его история</translation>
    </message>
</context>
<context>
    <name>commissionplan</name>
    <message>
        <source>not a regular file</source>
        <translation>это не обычный файл</translation>
    </message>
    <message>
        <source>larger than %1 bytes: not a plan</source>
        <translation>больше %1 байт: это не план</translation>
    </message>
    <message>
        <source>record %1: text after the closing quote of a cell</source>
        <translation>строка %1: текст после закрывающей кавычки ячейки</translation>
    </message>
    <message>
        <source>record %1: a quoted cell is never closed</source>
        <translation>строка %1: кавычка ячейки нигде не закрыта</translation>
    </message>
    <message>
        <source>&quot;%1&quot; must be %2</source>
        <translation>«%1» не подходит: %2</translation>
    </message>
    <message>
        <source>the plan is not UTF-8 text</source>
        <translation>план не является текстом в UTF-8</translation>
    </message>
    <message>
        <source>no header: the first row names the columns (%1)</source>
        <translation>нет заголовка: в первой строке должны быть названия столбцов (%1)</translation>
    </message>
    <message>
        <source>unknown column (the columns are %1)</source>
        <translation>неизвестный столбец (допустимые столбцы: %1)</translation>
    </message>
    <message>
        <source>column given twice (columns %1 and %2)</source>
        <translation>столбец указан дважды (столбцы %1 и %2)</translation>
    </message>
    <message>
        <source>the plan needs a &quot;port&quot; column</source>
        <translation>в плане нужен столбец «port»</translation>
    </message>
    <message>
        <source>%1 cells, but the header names %2 columns</source>
        <translation>ячеек: %1, а столбцов в заголовке: %2</translation>
    </message>
    <message>
        <source>&quot;%1&quot; stands in a column without a name</source>
        <translation>«%1» стоит в столбце без названия</translation>
    </message>
    <message>
        <source>no port given</source>
        <translation>порт не указан</translation>
    </message>
    <message>
        <source>nothing to write: every cell is empty and no base values are given</source>
        <translation>нечего записывать: все ячейки пусты, а базовые значения не заданы</translation>
    </message>
    <message>
        <source>%1 is already planned in row %2</source>
        <translation>%1 уже запланирован в строке %2</translation>
    </message>
    <message>
        <source>the plan has no rows</source>
        <translation>в плане нет строк</translation>
    </message>
    <message>
        <source>the file is not UTF-8 text</source>
        <translation>файл не является текстом в UTF-8</translation>
    </message>
    <message>
        <source>the column &quot;%1&quot;, which is not a plan column</source>
        <translation>столбец «%1», которого нет в плане</translation>
    </message>
    <message>
        <source>the second column &quot;%1&quot;</source>
        <translation>второй столбец «%1»</translation>
    </message>
    <message>
        <source>row %1: &quot;%2&quot; outside the named columns</source>
        <translation>строка %1: «%2» вне именованных столбцов</translation>
    </message>
    <message>
        <source>&quot;%1&quot; must be Modbus unit addresses 1-247, as &quot;1,2,5&quot; or &quot;1-4&quot;</source>
        <translation>«%1» не подходит: нужны адреса Modbus 1-247, например «1,2,5» или «1-4»</translation>
    </message>
</context>
<context>
    <name>commissionrecord</name>
    <message>
        <source>no record file is given</source>
        <translation>файл журнала не указан</translation>
    </message>
    <message>
        <source>%1 is a folder</source>
        <translation>%1 — это папка</translation>
    </message>
    <message>
        <source>%1 cannot be written</source>
        <translation>в %1 нельзя записывать</translation>
    </message>
    <message>
        <source>the folder %1 does not exist</source>
        <translation>папки %1 не существует</translation>
    </message>
    <message>
        <source>the folder %1 cannot be written</source>
        <translation>в папку %1 нельзя записывать</translation>
    </message>
    <message>
        <source>cannot sync to disk: %1</source>
        <translation>не удаётся сбросить данные на диск: %1</translation>
    </message>
    <message>
        <source>record %1: %2</source>
        <translation>журнал %1: %2</translation>
    </message>
    <message>
        <source>a bus record</source>
        <translation>журнал проверки шины</translation>
    </message>
    <message>
        <source>a commissioning record</source>
        <translation>журнал пусконаладки</translation>
    </message>
    <message>
        <source>%1 is not %2: its first line is not such a record&apos;s header</source>
        <translation>%1 — не %2: его первая строка не заголовок такого журнала</translation>
    </message>
    <message>
        <source>a reach record</source>
        <translation>журнал проверки связи</translation>
    </message>
    <message>
        <source>%1 is %2, not %3</source>
        <translation>%1 — %2, а не %3</translation>
    </message>
    <message>
        <source>%1 is a plan, not a record</source>
        <translation>%1 — план, а не журнал</translation>
    </message>
    <message>
        <source>%1 is not a record: its first line is not a record&apos;s header</source>
        <translation>%1 — не журнал: его первая строка не заголовок журнала</translation>
    </message>
</context>
<context>
    <name>parameters</name>
    <message>
        <source>an IPv4 address: four numbers 0-255 separated by dots, without leading zeros</source>
        <translation>нужен IPv4-адрес: четыре числа 0-255 через точку, без ведущих нулей</translation>
    </message>
    <message>
        <source>an IPv4 address a module can have: not 0.0.0.0 (except as &quot;no gateway&quot;), 127.x.x.x, nor 224.0.0.0 and above (multicast, reserved, broadcast)</source>
        <translation>нужен IPv4-адрес, допустимый для модуля: не 0.0.0.0 (кроме значения «нет шлюза»), не 127.x.x.x и не 224.0.0.0 и выше (групповые, зарезервированные и широковещательный адреса)</translation>
    </message>
    <message>
        <source>an IPv4 address a module can have: not 0.0.0.0, 127.x.x.x, nor 224.0.0.0 and above (multicast, reserved, broadcast)</source>
        <translation>нужен IPv4-адрес, допустимый для модуля: не 0.0.0.0, не 127.x.x.x и не 224.0.0.0 и выше (групповые, зарезервированные и широковещательный адреса)</translation>
    </message>
    <message>
        <source>a subnet mask: an IPv4 address whose ones come first (255.255.255.0), without leading zeros</source>
        <translation>нужна маска подсети: IPv4-адрес, в котором все единицы идут первыми (255.255.255.0), без ведущих нулей</translation>
    </message>
    <message>
        <source>milliseconds, a whole number 1-10000, without leading zeros</source>
        <translation>нужно целое число миллисекунд от 1 до 10000, без ведущих нулей</translation>
    </message>
    <message>
        <source>one of %1</source>
        <translation>нужно одно из значений %1</translation>
    </message>
    <message>
        <source>read from the module, never written</source>
        <translation>значение только считывается из модуля и не записывается</translation>
    </message>
    <message>
        <source>the module&apos;s address %1 is also its gateway</source>
        <translation>адрес модуля %1 совпадает с его шлюзом</translation>
    </message>
    <message>
        <source>the module&apos;s address %1 is the network address of %2</source>
        <translation>адрес модуля %1 — это адрес сети %2</translation>
    </message>
    <message>
        <source>the module&apos;s address %1 is the broadcast address of %2</source>
        <translation>адрес модуля %1 — это широковещательный адрес сети %2</translation>
    </message>
    <message>
        <source>the gateway %1 is the network address of %2</source>
        <translation>шлюз %1 — это адрес сети %2</translation>
    </message>
    <message>
        <source>the gateway %1 is the broadcast address of %2</source>
        <translation>шлюз %1 — это широковещательный адрес сети %2</translation>
    </message>
    <message>
        <source>the gateway %1 is outside the module&apos;s subnet %2: the module could not reach it</source>
        <translation>шлюз %1 вне подсети модуля %2: модуль не сможет к нему обратиться</translation>
    </message>
    <message>
        <source>%1, %2 or %3-%4</source>
        <translation>%1, %2 или %3-%4</translation>
    </message>
    <message>
        <source>%1, without leading zeros</source>
        <translation>нужно %1, без ведущих нулей</translation>
    </message>
</context>
<context>
    <name>recordimport</name>
    <message>
        <source>%1 is not a file</source>
        <translation>%1 — не файл</translation>
    </message>
    <message>
        <source>%1 is larger than a record can be</source>
        <translation>%1 больше, чем может быть журнал</translation>
    </message>
    <message>
        <source>cannot read %1: %2</source>
        <translation>не удаётся прочитать %1: %2</translation>
    </message>
    <message>
        <source>%1 is not UTF-8 text</source>
        <translation>%1 — не текст UTF-8</translation>
    </message>
    <message>
        <source>%1 is empty</source>
        <translation>%1 пуст</translation>
    </message>
    <message>
        <source>%1 is not a commissioning record: its header has no %2</source>
        <translation>%1 — не журнал настройки: в его заголовке нет %2</translation>
    </message>
    <message>
        <source>%1 line %2: %3</source>
        <translation>%1, строка %2: %3</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a time</source>
        <translation>«%1» — не время</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a MAC address</source>
        <translation>«%1» — не MAC-адрес</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a row of a plan</source>
        <translation>«%1» — не строка плана</translation>
    </message>
    <message>
        <source>%1 &quot;%2&quot; is not %3</source>
        <translation>%1 «%2» — не %3</translation>
    </message>
</context>
<context>
    <name>runsummary</name>
    <message>
        <source>row</source>
        <translation>строка</translation>
    </message>
    <message>
        <source>port</source>
        <translation>порт</translation>
    </message>
    <message>
        <source>module</source>
        <translation>модуль</translation>
    </message>
    <message>
        <source>MAC</source>
        <translation>MAC</translation>
    </message>
    <message>
        <source>ip</source>
        <translation>IP-адрес</translation>
    </message>
    <message>
        <source>result</source>
        <translation>результат</translation>
    </message>
    <message>
        <source>recorded</source>
        <translation>в журнале</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>да</translation>
    </message>
    <message>
        <source>NO</source>
        <translation>НЕТ</translation>
    </message>
</context>
<context>
    <name>siteregister</name>
    <message>
        <source>the register %1 has no run %2</source>
        <translation>в реестре %1 нет запуска %2</translation>
    </message>
    <message>
        <source>row %1 is no longer claimed by this run</source>
        <translation>строка %1 больше не занята этим запуском</translation>
    </message>
    <message>
        <source>row %1 was taken over by %2 (its lease had run out)</source>
        <translation>строку %1 перехватила станция %2 (срок её захвата истёк)</translation>
    </message>
    <message>
        <source>row %1 is not claimed by this run (%2)</source>
        <translation>строка %1 не занята этим запуском (%2)</translation>
    </message>
    <message>
        <source>nobody holds it</source>
        <translation>её никто не занял</translation>
    </message>
    <message>
        <source>%1 holds it</source>
        <translation>её заняла %1</translation>
    </message>
    <message>
        <source>the register %1: %2</source>
        <translation>реестр %1: %2</translation>
    </message>
    <message>
        <source>it carries a password; keep the password in ~/.pgpass (or the file PGPASSFILE names), never in the register&apos;s address</source>
        <translation>в нём есть пароль; храните пароль в ~/.pgpass (или в файле, который называет PGPASSFILE), никогда не в адресе реестра</translation>
    </message>
    <message>
        <source>no register</source>
        <translation>нет реестра</translation>
    </message>
    <message>
        <source>the register&apos;s address is empty</source>
        <translation>адрес реестра пуст</translation>
    </message>
    <message>
        <source>--register and --no-register do not go together</source>
        <translation>--register и --no-register несовместимы</translation>
    </message>
    <message>
        <source>the register %1: it holds other tables and no register; name an empty database or a register</source>
        <translation>реестр %1: в базе другие таблицы, а реестра нет; укажите пустую базу или реестр</translation>
    </message>
    <message>
        <source>the register %1 has the version %2 of its tables, newer than this program knows (%3): use the program that made it, or a newer one</source>
        <translation>у реестра %1 таблицы версии %2, новее, чем знает эта программа (%3): используйте программу, которая его создала, или более новую</translation>
    </message>
    <message>
        <source>unknown database error</source>
        <translation>неизвестная ошибка базы данных</translation>
    </message>
    <message>
        <source>the record %1</source>
        <translation>журнал %1</translation>
    </message>
    <message>
        <source>an unknown station</source>
        <translation>неизвестная станция</translation>
    </message>
    <message>
        <source>row %1 of %2</source>
        <translation>строка %1 из %2</translation>
    </message>
    <message>
        <source>on %1</source>
        <translation>на %1</translation>
    </message>
    <message>
        <source>verified</source>
        <translation>проверен</translation>
    </message>
    <message>
        <source>verified as %1</source>
        <translation>проверен как %1</translation>
    </message>
    <message>
        <source>this module, %1, is already %2: connect the next one</source>
        <translation>этот модуль, %1, уже %2: подключите следующий</translation>
    </message>
    <message>
        <source>%1 is held by %2, %3</source>
        <translation>%1 занят модулем %2, %3</translation>
    </message>
    <message>
        <source>verified by %1 at %2 on %3</source>
        <translation>проверено станцией %1 в %2 на %3</translation>
    </message>
    <message>
        <source>claimed by %1 since %2</source>
        <translation>занята станцией %1 с %2</translation>
    </message>
    <message>
        <source>never verified</source>
        <translation>не проверялось</translation>
    </message>
    <message>
        <source>differs: %1 (%2 %3)</source>
        <translation>отличается: %1 (%2 %3)</translation>
    </message>
    <message>
        <source>; claimed by %1 since %2</source>
        <translation>; занята станцией %1 с %2</translation>
    </message>
    <message>
        <source>; claimed by %1 since %2, its lease run out</source>
        <translation>; занята станцией %1 с %2, срок захвата истёк</translation>
    </message>
    <message>
        <source>no register is named</source>
        <translation>реестр не указан</translation>
    </message>
    <message>
        <source>cannot open the register %1: the %2 driver of Qt SQL is not installed (Debian: the package %3)</source>
        <translation>не удаётся открыть реестр %1: драйвер %2 для Qt SQL не установлен (Debian: пакет %3)</translation>
    </message>
    <message>
        <source>cannot open the register %1: cannot make the folder %2</source>
        <translation>не удаётся открыть реестр %1: не удаётся создать папку %2</translation>
    </message>
    <message>
        <source>cannot open the register %1: %2</source>
        <translation>не удаётся открыть реестр %1: %2</translation>
    </message>
    <message>
        <source>the register is not open</source>
        <translation>реестр не открыт</translation>
    </message>
    <message>
        <source>the register %1: &quot;%2&quot; is not a time</source>
        <translation>реестр %1: «%2» — не время</translation>
    </message>
    <message>
        <source>the register %1 knows no module %2</source>
        <translation>реестр %1 не знает модуля %2</translation>
    </message>
    <message>
        <source>the register %1 is damaged: &quot;%2&quot; is not a version of its tables</source>
        <translation>реестр %1 повреждён: «%2» — не версия его таблиц</translation>
    </message>
    <message>
        <source>unverified</source>
        <translation>не проверено</translation>
    </message>
    <message>
        <source>matches</source>
        <translation>совпадает</translation>
    </message>
    <message>
        <source>verified, not rewritten</source>
        <translation>проверен, не перезаписан</translation>
    </message>
    <message>
        <source>port in use</source>
        <translation>порт занят</translation>
    </message>
    <message>
        <source>port not opened</source>
        <translation>порт не открыт</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>прервано</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>not identified</source>
        <translation>не опознан</translation>
    </message>
    <message>
        <source>not a new module</source>
        <translation>не новый модуль</translation>
    </message>
    <message>
        <source>already verified</source>
        <translation>уже проверен</translation>
    </message>
    <message>
        <source>address held</source>
        <translation>адрес занят</translation>
    </message>
    <message>
        <source>register unavailable</source>
        <translation>реестр недоступен</translation>
    </message>
    <message>
        <source>claim lost</source>
        <translation>захват потерян</translation>
    </message>
    <message>
        <source>invalid configuration</source>
        <translation>недопустимая конфигурация</translation>
    </message>
    <message>
        <source>refused: reset</source>
        <translation>отказ: перезапуск</translation>
    </message>
    <message>
        <source>did not restart</source>
        <translation>не перезапустился</translation>
    </message>
    <message>
        <source>no answer after restart</source>
        <translation>нет ответа после перезапуска</translation>
    </message>
    <message>
        <source>not identified after restart</source>
        <translation>не опознан после перезапуска</translation>
    </message>
    <message>
        <source>verified on the console, address not known</source>
        <translation>проверен через консоль, адрес неизвестен</translation>
    </message>
    <message>
        <source>not reached</source>
        <translation>не выполнено</translation>
    </message>
    <message>
        <source>done already</source>
        <translation>уже сделано</translation>
    </message>
    <message>
        <source>refused: %1</source>
        <translation>отказ: %1</translation>
    </message>
    <message>
        <source>different module: %1</source>
        <translation>другой модуль: %1</translation>
    </message>
    <message>
        <source>mismatch: %1</source>
        <translation>расхождение: %1</translation>
    </message>
    <message>
        <source>differs: %1</source>
        <translation>отличается: %1</translation>
    </message>
    <message>
        <source>matches on the console, reachable, %1</source>
        <translation>совпадает с планом по консоли, доступен, %1</translation>
    </message>
    <message>
        <source>verified on the console, reachable, %1</source>
        <translation>проверен через консоль, доступен, %1</translation>
    </message>
    <message>
        <source>%1 after sending %2; no restart was sent</source>
        <translation>%1 после отправки %2; перезапуск не отправлен</translation>
    </message>
    <message>
        <source>%1, not in the register</source>
        <translation>%1, нет в реестре</translation>
    </message>
    <message>
        <source>%1 after the restart command</source>
        <translation>%1 после команды перезапуска</translation>
    </message>
    <message>
        <source>verified on the console, not reachable at %1 (%2)</source>
        <translation>проверен через консоль, но недоступен по адресу %1 (%2)</translation>
    </message>
    <message>
        <source>matches on the console, not reachable at %1 (%2)</source>
        <translation>совпадает с планом по консоли, но недоступен по адресу %1 (%2)</translation>
    </message>
    <message>
        <source>it was %1</source>
        <translation>он был %1</translation>
    </message>
    <message>
        <source>the register %1 is damaged: %2</source>
        <translation>реестр %1 повреждён: %2</translation>
    </message>
    <message>
        <source>its check found nothing to read</source>
        <translation>его проверка ничего не прочла</translation>
    </message>
    <message>
        <source>it has no table %1</source>
        <translation>в нём нет таблицы %1</translation>
    </message>
    <message>
        <source>its table %1 has no column %2</source>
        <translation>в его таблице %1 нет столбца %2</translation>
    </message>
    <message>
        <source>sslmode is disable, allow, prefer, require, verify-ca or verify-full</source>
        <translation>sslmode — это disable, allow, prefer, require, verify-ca или verify-full</translation>
    </message>
    <message>
        <source>connect_timeout is a number of seconds, 1-9999</source>
        <translation>connect_timeout — число секунд, 1-9999</translation>
    </message>
    <message>
        <source>application_name is 1-63 letters, digits, _, . and -</source>
        <translation>application_name — это 1-63 букв, цифр, _, . и -</translation>
    </message>
    <message>
        <source>target_session_attrs is any, read-write, read-only, primary, standby or prefer-standby</source>
        <translation>target_session_attrs — это any, read-write, read-only, primary, standby или prefer-standby</translation>
    </message>
    <message>
        <source>name the user: %1</source>
        <translation>укажите пользователя: %1</translation>
    </message>
    <message>
        <source>the user is named by 1-63 letters, digits, _, . and -</source>
        <translation>имя пользователя — это 1-63 букв, цифр, _, . и -</translation>
    </message>
    <message>
        <source>it holds more than one &quot;@&quot;; a password is never part of the register&apos;s address (keep it in ~/.pgpass)</source>
        <translation>в нём больше одного «@»; пароль никогда не входит в адрес реестра (храните его в ~/.pgpass)</translation>
    </message>
    <message>
        <source>an IPv6 address is written in brackets: [ADDRESS]:PORT</source>
        <translation>адрес IPv6 пишется в скобках: [АДРЕС]:ПОРТ</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an IPv6 address</source>
        <translation>«%1» — не адрес IPv6</translation>
    </message>
    <message>
        <source>name the server: %1</source>
        <translation>укажите сервер: %1</translation>
    </message>
    <message>
        <source>a socket folder is written percent-encoded: %2Frun%2Fpostgresql</source>
        <translation>папка сокета пишется в процентной кодировке: %2Frun%2Fpostgresql</translation>
    </message>
    <message>
        <source>name the database: %1</source>
        <translation>укажите базу: %1</translation>
    </message>
    <message>
        <source>a &quot;#&quot; is no part of a register&apos;s address</source>
        <translation>«#» не входит в адрес реестра</translation>
    </message>
    <message>
        <source>the database is named by 1-63 letters, digits, _, . and -</source>
        <translation>имя базы — это 1-63 букв, цифр, _, . и -</translation>
    </message>
    <message>
        <source>its query holds a password option; keep the password in ~/.pgpass (or the file PGPASSFILE names), never in the register&apos;s address</source>
        <translation>в его запросе есть параметр пароля; храните пароль в ~/.pgpass (или в файле, который называет PGPASSFILE), никогда не в адресе реестра</translation>
    </message>
    <message>
        <source>this program passes on sslmode, connect_timeout, application_name and target_session_attrs</source>
        <translation>программа передаёт только sslmode, connect_timeout, application_name и target_session_attrs</translation>
    </message>
    <message>
        <source>the option &quot;host&quot; is not one this program passes on: a socket folder is the HOST, written %2Frun%2Fpostgresql</source>
        <translation>параметр «host» программа не передаёт: папка сокета — это СЕРВЕР, в виде %2Frun%2Fpostgresql</translation>
    </message>
    <message>
        <source>the option &quot;%1&quot; is not one %2</source>
        <translation>параметр «%1» не передаётся: %2</translation>
    </message>
    <message>
        <source>its query holds an option this program does not pass on; %1</source>
        <translation>в его запросе есть параметр, который программа не передаёт; %1</translation>
    </message>
    <message>
        <source>the option &quot;%1&quot; is given twice</source>
        <translation>параметр «%1» задан дважды</translation>
    </message>
    <message>
        <source>a PostgreSQL register is written %1</source>
        <translation>реестр PostgreSQL пишется так: %1</translation>
    </message>
    <message>
        <source>it looks like a libpq keyword string (host=... dbname=...); write %1</source>
        <translation>это похоже на строку ключевых слов libpq (host=... dbname=...); пишите %1</translation>
    </message>
    <message>
        <source>it looks like an address of another kind; a register is %1, sqlite:FILE or a file</source>
        <translation>это похоже на адрес другого рода; реестр — это %1, sqlite:ФАЙЛ или файл</translation>
    </message>
    <message>
        <source>it looks like USER@HOST; write %1</source>
        <translation>это похоже на ПОЛЬЗОВАТЕЛЬ@СЕРВЕР; пишите %1</translation>
    </message>
    <message>
        <source>the register&apos;s address holds control characters</source>
        <translation>в адресе реестра есть управляющие символы</translation>
    </message>
    <message>
        <source>the register sqlite:%1: write sqlite:PATH (sqlite:/data/r.sqlite)</source>
        <translation>реестр sqlite:%1: пишите sqlite:ПУТЬ (sqlite:/data/r.sqlite)</translation>
    </message>
    <message>
        <source>the register&apos;s address is refused: %1</source>
        <translation>адрес реестра отклонён: %1</translation>
    </message>
    <message>
        <source>the register sqlite: names no file</source>
        <translation>реестр sqlite: не называет файла</translation>
    </message>
    <message>
        <source>the register %1 is an empty file (0 bytes), not a register: remove it to begin a new register there</source>
        <translation>реестр %1 — пустой файл (0 байт), а не реестр: удалите его, чтобы начать там новый реестр</translation>
    </message>
    <message>
        <source>rewritten: %1</source>
        <translation>перезаписан: %1</translation>
    </message>
    <message>
        <source>this module, %1, is the one to replace: connect its replacement</source>
        <translation>этот модуль, %1, и есть заменяемый: подключите модуль на замену</translation>
    </message>
    <message>
        <source>%1 is no longer claimed by this run</source>
        <translation>%1 больше не занят этим запуском</translation>
    </message>
    <message>
        <source>%1 was taken over by %2 (its lease had run out)</source>
        <translation>%1 перехватила станция %2 (срок захвата истёк)</translation>
    </message>
    <message>
        <source>%1 is not claimed by this run (%2)</source>
        <translation>%1 не занят этим запуском (%2)</translation>
    </message>
    <message>
        <source>the register %1: %2 was replaced by %3 already</source>
        <translation>реестр %1: %2 уже заменён модулем %3</translation>
    </message>
    <message>
        <source>the replacement of %1</source>
        <translation>замена %1</translation>
    </message>
    <message>
        <source>%1 was replaced by %2 already</source>
        <translation>%1 уже заменён модулем %2</translation>
    </message>
    <message>
        <source>%1 (process %2, %3)</source>
        <translation>%1 (процесс %2, %3)</translation>
    </message>
    <message>
        <source>%1 is being replaced by %2 since %3</source>
        <translation>%1 заменяет станция %2 с %3</translation>
    </message>
    <message>
        <source>%1 is claimed by %2 since %3</source>
        <translation>%1 занят станцией %2 с %3</translation>
    </message>
    <message>
        <source>rewritten since: %1, %2</source>
        <translation>с тех пор перезаписан: %1, %2</translation>
    </message>
    <message>
        <source>verified in another plan: %1, %2</source>
        <translation>проверен в другом плане: %1, %2</translation>
    </message>
    <message>
        <source>the register %1 did not keep its tables</source>
        <translation>реестр %1 не сохранил свои таблицы</translation>
    </message>
</context>
</TS>
