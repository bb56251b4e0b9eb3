-- The store database: items with their prices and offers, tax rates, alternate codes and
-- numeric settings. Plain SQL that SQLite and PostgreSQL both accept; statements end with a
-- semicolon and hold none inside.

CREATE TABLE Mnlus (
    Codigo BIGINT PRIMARY KEY,
    Descrip VARCHAR(60) NOT NULL,
    Precio DOUBLE PRECISION,
    Precio2 DOUBLE PRECISION,
    Precio3 DOUBLE PRECISION,
    Precio4 DOUBLE PRECISION,
    Precio5 DOUBLE PRECISION,
    Rup_P1 DOUBLE PRECISION,
    Rup_P2 DOUBLE PRECISION,
    Rup_P3 DOUBLE PRECISION,
    Rup_P4 DOUBLE PRECISION,
    Rup_P5 DOUBLE PRECISION,
    Imps_Act INTEGER NOT NULL DEFAULT 0,
    Ban_imps INTEGER NOT NULL DEFAULT 0,
    Tiene_Ofer INTEGER NOT NULL DEFAULT 0,
    Fec_ini_ofer TIMESTAMP,
    Fec_fin_ofer TIMESTAMP,
    Pct_ofer DOUBLE PRECISION NOT NULL DEFAULT 0
);

CREATE TABLE Impuestos (
    Num INTEGER PRIMARY KEY,
    PCT DOUBLE PRECISION
);

CREATE TABLE CodigosAlternos (
    Clave VARCHAR(20) PRIMARY KEY,
    Codigo BIGINT NOT NULL,
    Mult DOUBLE PRECISION NOT NULL DEFAULT 1
);

CREATE TABLE Parametros (
    Tipo INTEGER PRIMARY KEY,
    Valor DOUBLE PRECISION
);
