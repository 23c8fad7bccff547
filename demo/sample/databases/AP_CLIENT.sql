-- What the controller knows of the APs' clients.
CREATE TABLE ap_list (`SN`, `MAC`);
INSERT INTO ap_list VALUES (1, '00:11:22:AA:BB:01'), (2, '00:11:22:AA:BB:02'), (3, '00:11:22:AA:BB:03');
CREATE TABLE block (`refer_ap_sn`, `mac`);
CREATE TABLE illegal (`ap_sn`, `mac`, `utime`);
CREATE TABLE legal (`ap`, `refer_ap`, `mac`);
