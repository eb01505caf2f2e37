#include "ledger.h"

#include "cashdesk/core/shiftbook.h"
#include "common/core/codepage.h"
#include "journal/core/logrecord.h"
#include "journal/core/periodreport.h"

#include <QFile>
#include <cmath>
#include <cstring>
#include <limits>

namespace bilmeko {

namespace {

// Only one init at a time migrates; the number is the program's own.
constexpr const char *InitLock = "SELECT pg_advisory_xact_lock(7240518301)";

// Version 1, as the first program made it; a new ledger is made as it
// was and stepped up, the same way an old one is.
const char *const SchemaV1[] = {
    "CREATE SCHEMA IF NOT EXISTS bilmeko",
    "CREATE TABLE bilmeko.records ("
    " desk text NOT NULL,"
    " session_id bigint,"
    " reversal boolean NOT NULL DEFAULT false,"
    " journal_offset bigint NOT NULL CHECK (journal_offset >= 0),"
    " written timestamp,"
    " price_per_min numeric,"
    " start_time interval,"
    " elapsed interval,"
    " end_time interval,"
    " amount numeric,"
    " client_name text,"
    " service text,"
    " note text,"
    " status text,"
    " raw bytea NOT NULL CHECK (length(raw) = 168),"
    " shipped timestamptz NOT NULL DEFAULT now())",
    // A session's record, and the record taking it back when a Stop was
    // undone; the session may then end again, later: its written time
    // tells the two ends apart.
    "CREATE UNIQUE INDEX records_session ON bilmeko.records (desk, session_id, reversal, written)"
    " WHERE session_id IS NOT NULL",
    "CREATE UNIQUE INDEX records_old_offset ON bilmeko.records (desk, journal_offset) WHERE session_id IS NULL",
    "CREATE INDEX records_desk_offset ON bilmeko.records (desk, journal_offset)",
    "CREATE INDEX records_written ON bilmeko.records (written)",
    "DO $$ BEGIN"
    " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_desk') THEN CREATE ROLE bilmeko_desk NOLOGIN; END "
    "IF;"
    " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_owner') THEN CREATE ROLE bilmeko_owner NOLOGIN; END "
    "IF;"
    " END $$",
    "REVOKE ALL ON bilmeko.records FROM PUBLIC",
    "GRANT USAGE ON SCHEMA bilmeko TO bilmeko_desk, bilmeko_owner",
    "GRANT SELECT ON bilmeko.schema_version TO bilmeko_desk, bilmeko_owner",
    // A desk reads and adds its own rows; nobody but the tables' owner
    // changes or deletes any.
    "GRANT SELECT, INSERT ON bilmeko.records TO bilmeko_desk",
    "GRANT SELECT ON bilmeko.records TO bilmeko_owner",
    "ALTER TABLE bilmeko.records ENABLE ROW LEVEL SECURITY",
    "CREATE POLICY desk_adds_own ON bilmeko.records FOR INSERT TO bilmeko_desk WITH CHECK (desk = current_user::text)",
    "CREATE POLICY desk_reads_own ON bilmeko.records FOR SELECT TO bilmeko_desk USING (desk = current_user::text)",
    "CREATE POLICY owner_reads_all ON bilmeko.records FOR SELECT TO bilmeko_owner USING (true)",
};

// Version 2: the typed columns derived from the stored bytes by the
// server, every session id kept (as the signed 64-bit pattern of the
// record's unsigned id), a record keyed by its desk and bytes, the
// desks' live state and the per-(desk, day) summary.
const char *const SchemaV2[] = {
    // Little-endian integers and doubles of the record, exactly as the
    // program reads them; NULL for an infinity or NaN. Not STRICT, so the
    // planner inlines them: a call of each would cost more than the row.
    "CREATE OR REPLACE FUNCTION bilmeko.le_int8(r bytea, at int) RETURNS bigint LANGUAGE sql IMMUTABLE"
    " PARALLEL SAFE AS $$ SELECT (get_byte(r, at + 7) - CASE WHEN get_byte(r, at + 7) > 127 THEN 256 ELSE 0 "
    "END)::bigint"
    " * 72057594037927936 + get_byte(r, at + 6)::bigint * 281474976710656 + get_byte(r, at + 5)::bigint * 1099511627776"
    " + get_byte(r, at + 4)::bigint * 4294967296 + get_byte(r, at + 3)::bigint * 16777216"
    " + get_byte(r, at + 2)::bigint * 65536 + get_byte(r, at + 1)::bigint * 256 + get_byte(r, at)::bigint $$",
    "CREATE OR REPLACE FUNCTION bilmeko.le_float8(r bytea, at int) RETURNS float8 LANGUAGE sql IMMUTABLE"
    " PARALLEL SAFE AS $$ SELECT CASE WHEN (get_byte(r, at + 7) & 127) = 127 AND get_byte(r, at + 6) >= 240 THEN NULL"
    " ELSE (CASE WHEN get_byte(r, at + 7) > 127 THEN -1 ELSE 1 END)::float8"
    " * ((get_byte(r, at + 6) & 15)::float8 * 281474976710656 + get_byte(r, at + 5)::float8 * 1099511627776"
    " + get_byte(r, at + 4)::float8 * 4294967296 + get_byte(r, at + 3)::float8 * 16777216"
    " + get_byte(r, at + 2)::float8 * 65536 + get_byte(r, at + 1)::float8 * 256 + get_byte(r, at)::float8"
    " + CASE WHEN get_byte(r, at + 7) & 127 = 0 AND get_byte(r, at + 6) < 16 THEN 0 ELSE 4503599627370496 END)"
    " * power(2::float8, greatest((get_byte(r, at + 7) & 127) * 16 + (get_byte(r, at + 6) >> 4), 1) - 1075) END $$",
    // A day count as whole microseconds, rounded half away from zero as
    // the program rounds; NULL beyond a million days.
    "CREATE OR REPLACE FUNCTION bilmeko.day_micros(d float8) RETURNS bigint LANGUAGE sql IMMUTABLE PARALLEL SAFE"
    " AS $$ SELECT CASE WHEN abs(d) < 1e6 THEN (sign(d) * floor(abs(d) * 86400000000 + 0.5))::bigint END $$",
    "CREATE OR REPLACE FUNCTION bilmeko.record_interval(r bytea, at int) RETURNS interval LANGUAGE sql IMMUTABLE"
    " PARALLEL SAFE AS $$ SELECT bilmeko.day_micros(bilmeko.le_float8(r, at)) * interval '1 microsecond' $$",
    // Whether the program can show the record: a date from the year 1 to
    // 9999, finite money below 1e13, times below a million days.
    "CREATE OR REPLACE FUNCTION bilmeko.record_sane(r bytea) RETURNS boolean LANGUAGE sql IMMUTABLE"
    " PARALLEL SAFE AS $$ SELECT coalesce(length(r) = 168 AND bilmeko.le_float8(r, 0) >= -693593"
    " AND bilmeko.le_float8(r, 0) < 2958466 AND abs(bilmeko.le_float8(r, 8)) < 1e13"
    " AND abs(bilmeko.le_float8(r, 16)) < 1e6 AND abs(bilmeko.le_float8(r, 24)) < 1e6"
    " AND abs(bilmeko.le_float8(r, 32)) < 1e6 AND abs(bilmeko.le_float8(r, 40)) < 1e13, false) $$",
    // @TEXT@ is replaced by the text decoders (their tables come from
    // the program's own code page).
    "@TEXT@",
    "ALTER TABLE bilmeko.records RENAME TO records_v1",
    "ALTER INDEX IF EXISTS bilmeko.records_session RENAME TO records_v1_session",
    "ALTER INDEX IF EXISTS bilmeko.records_old_offset RENAME TO records_v1_old_offset",
    "ALTER INDEX IF EXISTS bilmeko.records_desk_offset RENAME TO records_v1_desk_offset",
    "ALTER INDEX IF EXISTS bilmeko.records_written RENAME TO records_v1_written",
    "CREATE TABLE bilmeko.records ("
    " desk text NOT NULL,"
    " journal_offset bigint NOT NULL CHECK (journal_offset >= 0),"
    " raw bytea NOT NULL CHECK (length(raw) = 168),"
    // Everything below is the server's: derived from raw, or its clock.
    " raw_hash uuid NOT NULL,"
    " session_id bigint,"
    " reversal boolean NOT NULL,"
    " counted boolean NOT NULL,"
    " written timestamp NOT NULL,"
    " price_per_min numeric NOT NULL,"
    " start_time interval NOT NULL,"
    " elapsed interval NOT NULL,"
    " end_time interval NOT NULL,"
    " amount numeric NOT NULL,"
    " client_name text NOT NULL,"
    " service text NOT NULL,"
    " note text NOT NULL,"
    " status text NOT NULL,"
    // How it was paid, from bits 4..5 of the mark byte: 0 not said (every
    // record of an older desk), 1 cash, 2 card, 3 transfer.
    " payment smallint NOT NULL,"
    " shipped timestamptz NOT NULL DEFAULT now())",
    // Only the same record (the same desk, the same 168 bytes) collides:
    // a journal restored from a backup or replaced is offered whole, and
    // what the ledger holds stays once.
    "CREATE UNIQUE INDEX records_key ON bilmeko.records (desk, raw_hash)",
    "CREATE INDEX records_session ON bilmeko.records (desk, session_id) WHERE session_id IS NOT NULL",
    "CREATE INDEX records_written ON bilmeko.records (written)",
    "CREATE OR REPLACE FUNCTION bilmeko.record_derive() RETURNS trigger LANGUAGE plpgsql AS $f$"
    " DECLARE r bytea := NEW.raw; mark int; wd float8; w bigint; d bigint; stops bigint; taken bigint;"
    " BEGIN"
    "  IF length(r) IS DISTINCT FROM 168 THEN"
    "   RAISE EXCEPTION 'запись стойки % не из 168 байт', NEW.desk USING ERRCODE = 'check_violation';"
    "  END IF;"
    "  NEW.raw_hash := md5(r)::uuid;"
    "  NEW.shipped := now();"
    "  mark := get_byte(r, 56) & 15;"
    "  NEW.reversal := mark = 2;"
    "  NEW.session_id := CASE WHEN mark IN (1, 2) THEN bilmeko.le_int8(r, 48) END;"
    "  IF NOT bilmeko.record_sane(r) THEN"
    "   RAISE EXCEPTION 'запись стойки % со смещением % не читается', NEW.desk, NEW.journal_offset"
    "    USING ERRCODE = 'check_violation';"
    "  END IF;"
    "  wd := bilmeko.le_float8(r, 0);"
    "  w := (sign(wd) * floor(abs(wd) * 86400000000 + 0.5))::bigint;"
    "  NEW.price_per_min := bilmeko.le_float8(r, 8)::numeric;"
    "  NEW.start_time := bilmeko.record_interval(r, 16);"
    "  NEW.elapsed := bilmeko.record_interval(r, 24);"
    "  NEW.end_time := bilmeko.record_interval(r, 32);"
    "  NEW.amount := bilmeko.le_float8(r, 40)::numeric;"
    "  d := floor(w / 86400000000.0);"
    "  NEW.written := timestamp '1899-12-30' + d * interval '1 day' + (w - d * 86400000000) * interval '1 microsecond';"
    "  NEW.client_name := bilmeko.record_client_name(r);"
    "  NEW.service := bilmeko.record_service(r);"
    "  NEW.note := bilmeko.record_note(r);"
    "  NEW.status := bilmeko.record_status(r);"
    "  NEW.payment := (get_byte(r, 56) >> 4) & 3;"
    // A reversal counts only against an earlier Stop of the same session
    // from the same desk that no counted reversal took back yet.
    "  NEW.counted := true;"
    "  IF NEW.reversal THEN"
    "   SELECT count(*) FILTER (WHERE NOT reversal AND written <= NEW.written),"
    "          count(*) FILTER (WHERE reversal AND counted)"
    "     INTO stops, taken FROM bilmeko.records"
    "    WHERE desk = NEW.desk AND session_id = NEW.session_id AND raw_hash <> NEW.raw_hash;"
    "   NEW.counted := stops > taken;"
    "  END IF;"
    "  RETURN NEW;"
    " END $f$",
    "CREATE TRIGGER records_derive BEFORE INSERT ON bilmeko.records FOR EACH ROW"
    " EXECUTE FUNCTION bilmeko.record_derive()",
    "CREATE TABLE bilmeko.day_summary ("
    " desk text NOT NULL,"
    " day date NOT NULL,"
    " sessions bigint NOT NULL," // Stops (not reversals)
    " seconds numeric NOT NULL," // the counted rows' time
    " takings numeric NOT NULL," // the counted rows' money
    " reversals bigint NOT NULL," // counted reversals
    " uncounted bigint NOT NULL," // reversals listed but not summed
    // The takings split by how they were paid (the rest: not said).
    " takings_cash numeric NOT NULL DEFAULT 0,"
    " takings_card numeric NOT NULL DEFAULT 0,"
    " takings_transfer numeric NOT NULL DEFAULT 0,"
    // The newest record's written time (local, as recorded): the desk's
    // last record is its newest day's, one index probe away.
    " last_written timestamp,"
    " PRIMARY KEY (desk, day))",
    // Kept in the same statement as the rows, so it never disagrees with
    // them; its owner's rights, since no desk writes it.
    "CREATE OR REPLACE FUNCTION bilmeko.records_added() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER"
    " SET search_path = pg_catalog, pg_temp AS $f$ BEGIN"
    "  INSERT INTO bilmeko.day_summary AS s (desk, day, sessions, seconds, takings, reversals, uncounted,"
    "   takings_cash, takings_card, takings_transfer, last_written)"
    "  SELECT desk, written::date, count(*) FILTER (WHERE NOT reversal),"
    "   coalesce(sum(extract(epoch FROM elapsed)) FILTER (WHERE counted), 0),"
    "   coalesce(sum(amount) FILTER (WHERE counted), 0),"
    "   count(*) FILTER (WHERE reversal AND counted), count(*) FILTER (WHERE NOT counted),"
    "   coalesce(sum(amount) FILTER (WHERE counted AND payment = 1), 0),"
    "   coalesce(sum(amount) FILTER (WHERE counted AND payment = 2), 0),"
    "   coalesce(sum(amount) FILTER (WHERE counted AND payment = 3), 0), max(written)"
    "  FROM added GROUP BY desk, written::date"
    "  ON CONFLICT (desk, day) DO UPDATE SET sessions = s.sessions + excluded.sessions,"
    "   seconds = s.seconds + excluded.seconds, takings = s.takings + excluded.takings,"
    "   reversals = s.reversals + excluded.reversals, uncounted = s.uncounted + excluded.uncounted,"
    "   takings_cash = s.takings_cash + excluded.takings_cash, takings_card = s.takings_card + excluded.takings_card,"
    "   takings_transfer = s.takings_transfer + excluded.takings_transfer,"
    "   last_written = greatest(s.last_written, excluded.last_written);"
    "  PERFORM pg_notify('bilmeko_live', d) FROM (SELECT DISTINCT desk AS d FROM added) x;"
    "  RETURN NULL;"
    " END $f$",
    "CREATE TRIGGER records_summary AFTER INSERT ON bilmeko.records REFERENCING NEW TABLE AS added"
    " FOR EACH STATEMENT EXECUTE FUNCTION bilmeko.records_added()",
    // The rows of version 1, derived again from their bytes, in the order
    // they were written (so reversals meet their Stops first); the same
    // record held twice under the old key is one row now.
    "INSERT INTO bilmeko.records (desk, journal_offset, raw) SELECT desk, journal_offset, raw FROM bilmeko.records_v1"
    " WHERE bilmeko.record_sane(raw)"
    " ORDER BY desk, written, journal_offset ON CONFLICT DO NOTHING",
    "UPDATE bilmeko.records n SET shipped = o.shipped FROM bilmeko.records_v1 o"
    " WHERE n.desk = o.desk AND n.raw_hash = md5(o.raw)::uuid",
    // What is left of version 1 is what the server cannot read: kept
    // aside, never dropped.
    "DELETE FROM bilmeko.records_v1 o USING bilmeko.records n WHERE n.desk = o.desk AND n.raw_hash = md5(o.raw)::uuid",
    "CREATE TABLE bilmeko.desks ("
    " desk text PRIMARY KEY,"
    " last_seen timestamptz NOT NULL DEFAULT now()," // the server's clock, at the desk's last update
    " program_version text,"
    " records_written bigint,"
    " records_shipped bigint,"
    " running integer NOT NULL DEFAULT 0,"
    " running_due numeric NOT NULL DEFAULT 0,"
    " last_offset bigint," // where the desk's shipping ended, and the record there
    " last_raw bytea)",
    "CREATE OR REPLACE FUNCTION bilmeko.desk_seen() RETURNS trigger LANGUAGE plpgsql AS $f$"
    " BEGIN NEW.last_seen := now(); RETURN NEW; END $f$",
    "CREATE TRIGGER desks_seen BEFORE INSERT OR UPDATE ON bilmeko.desks FOR EACH ROW"
    " EXECUTE FUNCTION bilmeko.desk_seen()",
    "CREATE TABLE bilmeko.running ("
    " desk text NOT NULL,"
    " session_id bigint NOT NULL,"
    " client_name text NOT NULL,"
    " service text NOT NULL,"
    " price_per_min numeric NOT NULL,"
    // Instants as the desk's clock shows them (local); only their
    // differences are used for time.
    " start_time timestamp NOT NULL,"
    " booked_end timestamp," // the start, the booked time and the pauses that are over; NULL: open
    " paused boolean NOT NULL DEFAULT false,"
    " paused_ms bigint NOT NULL DEFAULT 0," // pauses that are over
    " pause_since timestamp," // the pause going on began
    // The time charged at the update, by the desk's monotonic clock: the
    // board runs it on from `updated`, so no wall clock moves a charge.
    " ran_ms bigint NOT NULL DEFAULT 0,"
    " amount_due numeric NOT NULL,"
    " updated timestamptz NOT NULL DEFAULT now(),"
    " PRIMARY KEY (desk, session_id))",
    "CREATE OR REPLACE FUNCTION bilmeko.running_stamp() RETURNS trigger LANGUAGE plpgsql AS $f$"
    " BEGIN NEW.updated := now(); RETURN NEW; END $f$",
    "CREATE TRIGGER running_stamp BEFORE INSERT OR UPDATE ON bilmeko.running FOR EACH ROW"
    " EXECUTE FUNCTION bilmeko.running_stamp()",
};

// The desk's shift file, a row per line: created with version 2, and made
// again by every init on a version-2 ledger that lacks it. Every statement
// may run again.
const char *const ShiftsV2[] = {
    "CREATE TABLE IF NOT EXISTS bilmeko.shifts ("
    " desk text NOT NULL,"
    " line_offset bigint NOT NULL CHECK (line_offset >= 0)," // where the line starts in the desk's file
    " raw text NOT NULL," // the line, without its line end
    // Everything below is the server's: derived from raw, or its clock.
    " raw_hash uuid NOT NULL,"
    // open, close or receipt; NULL: a line with a sound checksum that this
    // server cannot read (a later program's), kept all the same.
    " kind text,"
    " number integer," // the shift's, or the receipt's
    " event_time timestamptz," // open, close: when (the desk's clock)
    " journal_length bigint," // open, close: the journal's length in whole records then
    " cash numeric," // open: the cash in the drawer; close: the cash counted
    " operator_name text," // open: decoded from the line's percent-encoding
    " written timestamp," // receipt: its record's written time (local, as recorded)
    " session_id bigint," // receipt: its record's session, as in bilmeko.records
    " reversal boolean," // receipt: the slip of a reversal (R) or of the session (S)
    " shipped timestamptz NOT NULL DEFAULT now())",
    // Only the same line of the same desk collides.
    "CREATE UNIQUE INDEX IF NOT EXISTS shifts_key ON bilmeko.shifts (desk, raw_hash)",
    "CREATE INDEX IF NOT EXISTS shifts_opened ON bilmeko.shifts (desk, event_time) WHERE kind IN ('open', 'close')",
    // Where the desk's shipping of the file ended: the last line shipped and its offset.
    "ALTER TABLE bilmeko.desks ADD COLUMN IF NOT EXISTS shift_offset bigint, ADD COLUMN IF NOT EXISTS shift_line text",
    "@CRC@",
    // %XX as the byte it names; anything else as it stands.
    "CREATE OR REPLACE FUNCTION bilmeko.percent_decoded(t text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE"
    " AS $$ SELECT convert_from(coalesce(string_agg(CASE WHEN m[1] IS NOT NULL THEN decode(substr(m[1], 2), 'hex')"
    " ELSE convert_to(m[2], 'UTF8') END, ''::bytea ORDER BY k), ''::bytea), 'UTF8')"
    " FROM regexp_matches(t, '(%[0-9A-Fa-f]{2})|([^%]+|%)', 'g') WITH ORDINALITY AS x(m, k) $$",
    "CREATE OR REPLACE FUNCTION bilmeko.shift_derive() RETURNS trigger LANGUAGE plpgsql AS $f$"
    " DECLARE body text; m text[]; ms bigint;"
    " BEGIN"
    "  NEW.raw_hash := md5(NEW.raw)::uuid;"
    "  NEW.shipped := now();"
    "  NEW.kind := NULL; NEW.number := NULL; NEW.event_time := NULL; NEW.journal_length := NULL; NEW.cash := NULL;"
    "  NEW.operator_name := NULL; NEW.written := NULL; NEW.session_id := NULL; NEW.reversal := NULL;"
    // The last field is the CRC-32 of the bytes before it, its TAB included.
    "  IF octet_length(NEW.raw) > 4096 OR NEW.raw !~ '^[^\\n]*\\t[0-9a-f]{8}$'"
    "     OR lpad(to_hex(bilmeko.crc32(convert_to(left(NEW.raw, -8), 'UTF8'))), 8, '0') <> right(NEW.raw, 8) THEN"
    "   RAISE EXCEPTION 'строка смен стойки % со смещением % повреждена', NEW.desk, NEW.line_offset"
    "    USING ERRCODE = 'check_violation';"
    "  END IF;"
    "  body := left(NEW.raw, -8);"
    "  BEGIN"
    "   m := regexp_match(body, '^(open|close|receipt)\\t([0-9]{1,18})\\t([0-9]{1,18})\\t');"
    "   IF m IS NULL OR m[2]::bigint NOT BETWEEN 1 AND 1000000000 OR m[3]::bigint > 253402300799999 THEN"
    "    RETURN NEW;"
    "   END IF;"
    "   NEW.number := m[2]::bigint;"
    "   ms := m[3]::bigint;"
    "   IF m[1] = 'receipt' THEN"
    "    m := regexp_match(body, '^receipt\\t[0-9]+\\t[0-9]+\\t([0-9a-f]{16})\\t([SR])\\t$');"
    "    IF m IS NOT NULL THEN"
    "     NEW.written := timestamp '1899-12-30' + (ms / 86400000) * interval '1 day'"
    "      + (ms % 86400000) * interval '1 millisecond';"
    "     NEW.session_id := ('x' || m[1])::bit(64)::bigint;"
    "     NEW.reversal := m[2] = 'R';"
    "     NEW.kind := 'receipt';"
    "    END IF;"
    "   ELSE"
    "    m := regexp_match(body, "
    "'^(open|close)\\t[0-9]+\\t[0-9]+\\t([0-9]{1,18})\\t([0-9.e+-]{1,40})\\t(?:([^\\t]*)\\t)?$');"
    "    IF m IS NOT NULL AND (m[4] IS NOT NULL) = (m[1] = 'open') AND m[2]::bigint <= 1152921504606846976"
    "       AND m[3]::numeric BETWEEN 0 AND 1000000000 THEN"
    "     NEW.event_time := to_timestamp(ms / 1000) + (ms % 1000) * interval '1 millisecond';"
    "     NEW.journal_length := m[2]::bigint;"
    "     NEW.cash := m[3]::numeric;"
    "     NEW.operator_name := CASE WHEN m[1] = 'open' THEN bilmeko.percent_decoded(m[4]) END;"
    "     NEW.kind := m[1];"
    "    END IF;"
    "   END IF;"
    "   IF NEW.kind IS NULL THEN"
    "    NEW.number := NULL; NEW.written := NULL; NEW.event_time := NULL;"
    "   END IF;"
    "  EXCEPTION WHEN data_exception THEN"
    // A field that does not read (cash that is no number, an operator
    // that is no UTF-8): the line is kept, untyped.
    "   NEW.kind := NULL; NEW.number := NULL; NEW.event_time := NULL; NEW.journal_length := NULL;"
    "   NEW.cash := NULL; NEW.operator_name := NULL;"
    "  END;"
    "  RETURN NEW;"
    " END $f$",
    "DROP TRIGGER IF EXISTS shifts_derive ON bilmeko.shifts",
    "CREATE TRIGGER shifts_derive BEFORE INSERT OR UPDATE ON bilmeko.shifts FOR EACH ROW"
    " EXECUTE FUNCTION bilmeko.shift_derive()",
};

// Rights, row-level security and role settings: checked and set again by
// every init, so a ledger restored without its roles (or whose grants
// were changed) works again after one run.
const char *const RightsV2[] = {
    "DO $$ BEGIN"
    " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_desk') THEN CREATE ROLE bilmeko_desk NOLOGIN; END "
    "IF;"
    " IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'bilmeko_owner') THEN CREATE ROLE bilmeko_owner NOLOGIN; END "
    "IF;"
    " END $$",
    "REVOKE ALL ON ALL TABLES IN SCHEMA bilmeko FROM PUBLIC, bilmeko_desk, bilmeko_owner",
    "REVOKE ALL ON SCHEMA bilmeko FROM PUBLIC",
    "GRANT USAGE ON SCHEMA bilmeko TO bilmeko_desk, bilmeko_owner",
    "GRANT SELECT ON ALL TABLES IN SCHEMA bilmeko TO bilmeko_owner",
    "GRANT SELECT ON bilmeko.schema_version, bilmeko.records, bilmeko.desks, bilmeko.running, bilmeko.day_summary,"
    " bilmeko.shifts TO bilmeko_desk",
    // A desk gives its records' bytes; everything else of a row is the server's.
    "GRANT INSERT (desk, journal_offset, raw) ON bilmeko.records TO bilmeko_desk",
    "GRANT INSERT (desk, line_offset, raw) ON bilmeko.shifts TO bilmeko_desk",
    "GRANT INSERT (desk, program_version, records_written, records_shipped, running, running_due, last_offset,"
    " last_raw, shift_offset, shift_line), UPDATE (program_version, records_written, records_shipped, running,"
    " running_due, last_offset, last_raw, shift_offset, shift_line) ON bilmeko.desks TO bilmeko_desk",
    "GRANT INSERT, UPDATE, DELETE ON bilmeko.running TO bilmeko_desk",
    "ALTER TABLE bilmeko.records ENABLE ROW LEVEL SECURITY",
    "ALTER TABLE bilmeko.desks ENABLE ROW LEVEL SECURITY",
    "ALTER TABLE bilmeko.running ENABLE ROW LEVEL SECURITY",
    "ALTER TABLE bilmeko.day_summary ENABLE ROW LEVEL SECURITY",
    "ALTER TABLE bilmeko.shifts ENABLE ROW LEVEL SECURITY",
    // Every policy is made anew; the login role decides (SET ROLE does not
    // make a desk another).
    "DO $$ DECLARE p record; BEGIN"
    " FOR p IN SELECT policyname, tablename FROM pg_policies WHERE schemaname = 'bilmeko' LOOP"
    "  EXECUTE format('DROP POLICY %I ON bilmeko.%I', p.policyname, p.tablename);"
    " END LOOP; END $$",
    "CREATE POLICY desk_adds_own ON bilmeko.records FOR INSERT TO bilmeko_desk WITH CHECK (desk = session_user::text)",
    "CREATE POLICY desk_reads_own ON bilmeko.records FOR SELECT TO bilmeko_desk USING (desk = session_user::text)",
    "CREATE POLICY owner_reads_all ON bilmeko.records FOR SELECT TO bilmeko_owner USING (true)",
    "CREATE POLICY desk_own ON bilmeko.desks FOR ALL TO bilmeko_desk USING (desk = session_user::text)"
    " WITH CHECK (desk = session_user::text)",
    "CREATE POLICY owner_reads_all ON bilmeko.desks FOR SELECT TO bilmeko_owner USING (true)",
    "CREATE POLICY desk_own ON bilmeko.running FOR ALL TO bilmeko_desk USING (desk = session_user::text)"
    " WITH CHECK (desk = session_user::text)",
    "CREATE POLICY owner_reads_all ON bilmeko.running FOR SELECT TO bilmeko_owner USING (true)",
    "CREATE POLICY desk_reads_own ON bilmeko.day_summary FOR SELECT TO bilmeko_desk USING (desk = session_user::text)",
    "CREATE POLICY owner_reads_all ON bilmeko.day_summary FOR SELECT TO bilmeko_owner USING (true)",
    "CREATE POLICY desk_adds_own ON bilmeko.shifts FOR INSERT TO bilmeko_desk WITH CHECK (desk = session_user::text)",
    "CREATE POLICY desk_reads_own ON bilmeko.shifts FOR SELECT TO bilmeko_desk USING (desk = session_user::text)",
    "CREATE POLICY owner_reads_all ON bilmeko.shifts FOR SELECT TO bilmeko_owner USING (true)",
    // A transaction a desk left open (its network gone) ends after a
    // minute, with its locks; the setting is the login role's own.
    "DO $$ DECLARE m record; BEGIN"
    " FOR m IN SELECT r.rolname FROM pg_auth_members a JOIN pg_roles r ON r.oid = a.member"
    "  JOIN pg_roles g ON g.oid = a.roleid WHERE g.rolname = 'bilmeko_desk' LOOP"
    "  EXECUTE format('ALTER ROLE %I SET idle_in_transaction_session_timeout = ''60s''', m.rolname);"
    " END LOOP; END $$",
};

const char StageTable[] = "CREATE TEMP TABLE IF NOT EXISTS ledger_stage ("
                          " desk text, session_id bigint, reversal boolean, journal_offset bigint, written timestamp, "
                          "price_per_min numeric,"
                          " start_time interval, elapsed interval, end_time interval, amount numeric,"
                          " client_name text, service text, note text, status text, raw bytea) ON COMMIT DELETE ROWS";

// The decoders of a record's texts, one SQL expression each (inlined by
// the planner, a few microseconds a row): every byte of the field through a
// table of the code page's characters (a zero byte as a space), cut to the
// field's length.
QList<QByteArray> textDecoderSql()
{
    const auto codePoint = [](int b) {
        if (b == 0)
            return 32;
        const char c = char(b);
        const QString s = cp1251::decode(&c, 1);
        return s.size() == 1 && !s.at(0).isNull() ? int(s.at(0).unicode()) : int('?');
    };
    QByteArray scrambled = "('{", plain = "('{";
    for (int b = 0; b < 256; ++b) {
        scrambled += QByteArray::number(codePoint(b ^ ScrambleKey)) + (b < 255 ? "," : "}'::int[])");
        plain += QByteArray::number(codePoint(b)) + (b < 255 ? "," : "}'::int[])");
    }
    const struct
    {
        const char *name;
        int at, max;
    } fields[] = {
        {"client_name", record::ClientName, record::ClientNameMax},
        {"service", record::Service, record::ShortMax},
        {"note", record::Note, record::ShortMax},
        {"status", record::Status, record::ShortMax},
    };
    QList<QByteArray> out;
    for (const auto &f : fields) {
        QByteArray sql = "CREATE OR REPLACE FUNCTION bilmeko.record_" + QByteArray(f.name)
            + "(r bytea) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT left(";
        for (int i = 1; i <= f.max; ++i) {
            const int at = f.at + i;
            sql += (i > 1 ? " || chr(" : "chr(") + (at <= record::ScrambleLast ? scrambled : plain) + "[get_byte(r, "
                + QByteArray::number(at) + ") + 1])";
        }
        sql += ", least(get_byte(r, " + QByteArray::number(f.at) + ") # " + QByteArray::number(ScrambleKey) + ", "
            + QByteArray::number(f.max) + ")) $$";
        out.append(sql);
    }
    return out;
}

// CRC-32 (zlib's) on the server, a table look-up a byte: what a shift
// line's last field is checked against.
QByteArray crcSql()
{
    QByteArray table;
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table += (n ? "," : "") + QByteArray::number(c);
    }
    return "CREATE OR REPLACE FUNCTION bilmeko.crc32(b bytea) RETURNS bigint LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE"
           " AS $$ DECLARE t constant bigint[] := '{"
        + table
        + "}'; c bigint := 4294967295;"
          " BEGIN FOR i IN 0 .. length(b) - 1 LOOP c := t[((c # get_byte(b, i)) & 255) + 1] # (c >> 8); END LOOP;"
          " RETURN c # 4294967295; END $$";
}

int schemaVersion(PgConnection &c)
{
    const PgResult t = c.exec("SELECT to_regclass('bilmeko.schema_version') IS NOT NULL");
    if (t.text(0, 0) != QLatin1String("t"))
        return 0;
    const PgResult v = c.exec("SELECT coalesce(max(version), 0) FROM bilmeko.schema_version");
    return int(v.number(0, 0));
}

QString newerMessage(int version)
{
    return QStringLiteral("схема базы новее, чем знает эта программа (версия %1, программа знает %2): "
                          "обновите программу")
        .arg(version)
        .arg(ledger::SchemaVersion);
}

void appendEscaped(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    for (char ch : utf8) {
        switch (ch) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\0': out += ' '; break; // text cannot hold it; the raw bytes keep it
        default: out += ch;
        }
    }
}

const char Hex[] = "0123456789abcdef";

// A record's 168 bytes as a COPY field of type bytea (a tab before it).
void appendStoredBytes(QByteArray &out, const char *stored)
{
    out += "\t\\\\x";
    for (int i = 0; i < RecordSize; ++i) {
        const auto b = static_cast<unsigned char>(stored[i]);
        out += Hex[b >> 4];
        out += Hex[b & 15];
    }
}

void appendNumeric(QByteArray &out, double v)
{
    if (!std::isfinite(v)) {
        out += "\\N";
        return;
    }
    out += QByteArray::number(v, 'g', QLocale::FloatingPointShortest);
}

// A day fraction as an interval of whole microseconds.
void appendInterval(QByteArray &out, double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 1e6) {
        out += "\\N";
        return;
    }
    out += QByteArray::number(std::llround(days * 86'400'000'000.0));
    out += " microseconds";
}

void appendTimestamp(QByteArray &out, double v)
{
    constexpr qint64 DayUs = 86'400'000'000LL;
    if (!std::isfinite(v) || std::fabs(v) > 3'000'000) {
        out += "\\N";
        return;
    }
    const qint64 us = std::llround(v * double(DayUs));
    qint64 day = us / DayUs, rest = us % DayUs;
    if (rest < 0) {
        rest += DayUs;
        --day;
    }
    const QDate d = epochDate().addDays(day);
    if (!d.isValid() || d.year() < 1 || d.year() > 9999) {
        out += "\\N";
        return;
    }
    char buf[40];
    const qint64 s = rest / 1'000'000;
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02lld:%02lld:%02lld.%06lld", d.year(), d.month(), d.day(), s / 3600,
                  s / 60 % 60, s % 60, rest % 1'000'000);
    out += buf;
}

} // namespace

InitOutcome initLedger(PgConnection &c, int upTo)
{
    InitOutcome o;
    PgTransaction tx(c);
    c.exec(InitLock);
    o.versionBefore = schemaVersion(c);
    if (o.versionBefore > ledger::SchemaVersion)
        throw LedgerError(LedgerError::Schema, newerMessage(o.versionBefore));
    // One step per version, each from the one before.
    if (o.versionBefore < 1 && upTo >= 1) {
        c.exec("CREATE SCHEMA IF NOT EXISTS bilmeko");
        c.exec("CREATE TABLE bilmeko.schema_version (version integer NOT NULL)");
        c.exec("REVOKE ALL ON bilmeko.schema_version FROM PUBLIC");
        for (const char *sql : SchemaV1)
            c.exec(sql);
        c.exec("INSERT INTO bilmeko.schema_version VALUES (1)");
    }
    if (o.versionBefore < 2 && upTo >= 2) {
        for (const char *sql : SchemaV2) {
            if (qstrcmp(sql, "@TEXT@") != 0)
                c.exec(sql);
            else
                for (const QByteArray &decoder : textDecoderSql())
                    c.exec(decoder.constData());
        }
        o.keptAside = c.exec("SELECT count(*) FROM bilmeko.records_v1").number(0, 0);
        if (o.keptAside == 0)
            c.exec("DROP TABLE bilmeko.records_v1");
        c.exec("UPDATE bilmeko.schema_version SET version = 2");
    }
    o.versionAfter = schemaVersion(c);
    if (o.versionAfter >= 2) {
        for (const char *sql : ShiftsV2)
            c.exec((qstrcmp(sql, "@CRC@") != 0 ? QByteArray(sql) : crcSql()).constData());
        for (const char *sql : RightsV2)
            c.exec(sql);
    }
    tx.commit();
    return o;
}

int checkLedgerSchema(PgConnection &c)
{
    const int v = schemaVersion(c);
    if (v == 0)
        throw LedgerError(LedgerError::Schema,
                          QStringLiteral("в базе нет таблиц Bilmeko: выполните bilmeko-ledger init"));
    if (v > ledger::SchemaVersion)
        throw LedgerError(LedgerError::Schema, newerMessage(v));
    return v;
}

QByteArray copyField(const QString &text)
{
    QByteArray out;
    appendEscaped(out, text);
    return out;
}

QByteArray ledgerCopyLine(const QByteArray &deskField, const char *stored, qint64 offset)
{
    if (!trustedRecord(stored))
        return {};
    RecordBytes plain;
    std::memcpy(plain.data(), stored, RecordSize);
    ScrambleRecord(plain);
    const LogRecord r = deserializeRecord(plain.data());
    const std::uint64_t id = recordSeal(stored) == RecordSeal::Good ? storedSessionId(stored) : 0;

    QByteArray out;
    out.reserve(640);
    out += deskField;
    out += '\t';
    // Every id, as the signed 64-bit pattern of the unsigned one.
    if (id != 0)
        out += QByteArray::number(qint64(id));
    else
        out += "\\N";
    out += id != 0 && isReversalRecord(stored) ? "\tt\t" : "\tf\t";
    out += QByteArray::number(offset);
    out += '\t';
    appendTimestamp(out, r.written);
    out += '\t';
    appendNumeric(out, r.pricePerMin);
    out += '\t';
    appendInterval(out, r.startTime);
    out += '\t';
    appendInterval(out, r.elapsed);
    out += '\t';
    appendInterval(out, r.endTime);
    out += '\t';
    appendNumeric(out, r.amount);
    for (const QString *t : {&r.clientName, &r.service, &r.note, &r.status}) {
        out += '\t';
        appendEscaped(out, *t);
    }
    appendStoredBytes(out, stored);
    out += '\n';
    return out;
}

QByteArray recordCopyLine(const QByteArray &deskField, const char *stored, qint64 offset)
{
    if (!trustedRecord(stored))
        return {};
    QByteArray out;
    out.reserve(deskField.size() + 24 + 3 + 2 * RecordSize);
    out += deskField;
    out += '\t';
    out += QByteArray::number(offset);
    appendStoredBytes(out, stored);
    out += '\n';
    return out;
}

qint64 resumeOffset(PgConnection &c, const QString &desk, const QString &journalPath, int schema)
{
    const PgResult last = schema >= 2
        ? c.exec("SELECT last_offset, last_raw FROM bilmeko.desks WHERE desk = $1 AND last_offset IS NOT NULL", {desk})
        : c.exec("SELECT journal_offset, raw FROM bilmeko.records WHERE desk = $1"
                 " ORDER BY journal_offset DESC LIMIT 1",
                 {desk});
    if (last.rows() == 0)
        return 0;
    const qint64 offset = last.number(0, 0);
    const QByteArray held = last.bytes(0, 1);
    QFile f(journalPath);
    if (offset < 0 || !f.open(QIODevice::ReadOnly) || !f.seek(offset) || f.read(RecordSize) != held)
        return 0;
    return offset + RecordSize;
}

ShipOutcome shipBatch(PgConnection &c, const QString &desk, const QString &journalPath, qint64 offset, int maxRecords,
                      int schema)
{
    ShipOutcome o;
    o.nextOffset = offset;
    QFile f(journalPath);
    if (!f.open(QIODevice::ReadOnly)) {
        // No journal yet: nothing to ship.
        o.atEnd = !f.exists();
        if (o.atEnd)
            return o;
        throw LedgerError(LedgerError::Query,
                          QStringLiteral("журнал «%1» не читается: %2").arg(journalPath, f.errorString()));
    }
    const qint64 size = f.size();
    if (offset >= size - RecordSize + 1 || !f.seek(offset)) {
        o.atEnd = true;
        return o;
    }
    const qint64 whole = (size - offset) / RecordSize;
    const qint64 take = std::min<qint64>(whole, maxRecords);
    const QByteArray bytes = f.read(take * RecordSize);
    const qint64 got = bytes.size() / RecordSize;

    const QByteArray deskField = copyField(desk);
    QByteArray data;
    data.reserve(got * (schema >= 2 ? deskField.size() + 360 : 620));
    qint64 lastShipped = -1;
    for (qint64 i = 0; i < got; ++i) {
        const char *stored = bytes.constData() + i * RecordSize;
        const qint64 at = offset + i * RecordSize;
        const QByteArray line
            = schema >= 2 ? recordCopyLine(deskField, stored, at) : ledgerCopyLine(deskField, stored, at);
        if (line.isEmpty()) {
            ++o.damaged;
        } else {
            data += line;
            lastShipped = i;
        }
    }
    o.offered = got;
    const char *columns = schema >= 2
        ? "(desk, journal_offset, raw)"
        : "(desk, session_id, reversal, journal_offset, written, price_per_min,"
          " start_time, elapsed, end_time, amount, client_name, service, note, status, raw)";
    if (!data.isEmpty()) {
        c.exec("BEGIN");
        try {
            // Straight into the table, as fast as a COPY goes: the rows
            // after where shipping resumed are normally not there yet.
            // When one is (a journal offered again, two shippers of one
            // desk), or the role may not COPY there, the batch goes
            // through the staging table and the keys keep each row once.
            c.exec("SAVEPOINT direct");
            try {
                c.copyIn(QByteArray("COPY bilmeko.records " + QByteArray(columns) + " FROM STDIN").constData(), data);
                o.inserted = got - o.damaged;
            } catch (const LedgerError &e) {
                // 23505: a row already there; 0A000: a desk's role, under
                // row-level security, may not COPY into the table.
                if (e.kind() != LedgerError::Query || (e.sqlState() != "23505" && e.sqlState() != "0A000"))
                    throw;
                c.exec("ROLLBACK TO SAVEPOINT direct");
                c.exec(schema >= 2 ? "CREATE TEMP TABLE IF NOT EXISTS ledger_stage2 (desk text, journal_offset bigint,"
                                     " raw bytea) ON COMMIT DELETE ROWS"
                                   : StageTable);
                const QByteArray stage = schema >= 2 ? "pg_temp.ledger_stage2" : "pg_temp.ledger_stage";
                c.copyIn(QByteArray("COPY " + stage + ' ' + columns + " FROM STDIN").constData(), data);
                const PgResult ins = c.exec(QByteArray("INSERT INTO bilmeko.records " + QByteArray(columns) + " SELECT "
                                                       + QByteArray(columns).mid(1).chopped(1) + " FROM " + stage
                                                       + " ORDER BY journal_offset ON CONFLICT DO NOTHING")
                                                .constData());
                o.inserted = ins.affected();
            }
            // Where shipping resumes next time: after this batch's last
            // record, if the journal still holds it there.
            if (schema >= 2)
                c.exec("INSERT INTO bilmeko.desks AS d (desk, last_offset, last_raw) VALUES ($1, $2, decode($3, 'hex'))"
                       " ON CONFLICT (desk) DO UPDATE SET last_offset = excluded.last_offset, last_raw = "
                       "excluded.last_raw",
                       {desk, QString::number(offset + lastShipped * RecordSize),
                        QString::fromLatin1(bytes.mid(lastShipped * RecordSize, RecordSize).toHex())});
            c.exec("COMMIT");
        } catch (...) {
            if (c.ok())
                c.exec("ROLLBACK");
            throw;
        }
    }
    o.nextOffset = offset + got * RecordSize;
    o.atEnd = (size - o.nextOffset) < RecordSize;
    return o;
}

bool ledgerKeepsShifts(PgConnection &c)
{
    return c.exec("SELECT to_regclass('bilmeko.shifts') IS NOT NULL AND EXISTS (SELECT FROM pg_attribute"
                  " WHERE attrelid = to_regclass('bilmeko.desks') AND attname = 'shift_line' AND NOT attisdropped)")
               .text(0, 0)
        == QLatin1String("t");
}

qint64 shiftResumeOffset(PgConnection &c, const QString &desk, const QString &shiftPath)
{
    const PgResult last = c.exec("SELECT shift_offset, shift_line FROM bilmeko.desks WHERE desk = $1"
                                 " AND shift_offset IS NOT NULL AND shift_line IS NOT NULL",
                                 {desk});
    if (last.rows() == 0)
        return 0;
    const qint64 offset = last.number(0, 0);
    const QByteArray held = last.text(0, 1).toUtf8() + '\n';
    QFile f(shiftPath);
    if (offset < 0 || !f.open(QIODevice::ReadOnly) || !f.seek(offset) || f.read(held.size()) != held)
        return 0;
    return offset + held.size();
}

QHash<QString, OpenShift> readOpenShifts(PgConnection &c, const QString &desks)
{
    QHash<QString, OpenShift> out;
    if (!ledgerKeepsShifts(c))
        return out;
    // A closing and the next opening in the same millisecond: the opening,
    // a later number, is the latest.
    const PgResult r = c.exec(
        "SELECT d.desk, h.number, h.operator_name FROM bilmeko.desks d CROSS JOIN LATERAL (SELECT kind, number,"
        " operator_name FROM bilmeko.shifts h WHERE h.desk = d.desk AND h.kind IN ('open', 'close')"
        " ORDER BY event_time DESC, number DESC, kind = 'close' DESC LIMIT 1) h"
        " WHERE h.kind = 'open' AND ($1::text[] IS NULL OR d.desk = ANY($1::text[]))",
        {desks});
    for (int i = 0; i < r.rows(); ++i)
        out.insert(r.text(i, 0), {int(r.number(i, 1)), r.text(i, 2)});
    return out;
}

ShipOutcome shipShiftBatch(PgConnection &c, const QString &desk, const QString &shiftPath, qint64 offset, int maxLines)
{
    const ShiftFileLines read = readShiftFileLines(shiftPath, offset, maxLines);
    ShipOutcome o;
    o.nextOffset = read.next;
    o.offered = read.lines.size();
    o.damaged = read.damaged;
    o.atEnd = read.atEnd;
    if (read.lines.isEmpty())
        return o;
    // A line holds no line end: the lines travel as one text, split on the server.
    QStringList offsets, lines;
    for (const ShiftFileLine &l : read.lines) {
        offsets << QString::number(l.offset);
        lines << QString::fromUtf8(l.text);
    }
    PgTransaction tx(c);
    o.inserted = c.exec("INSERT INTO bilmeko.shifts (desk, line_offset, raw)"
                        " SELECT $1, o::bigint, r FROM unnest(string_to_array($2, ','), string_to_array($3, E'\\n'))"
                        " AS u(o, r) ORDER BY 2 ON CONFLICT DO NOTHING",
                        {desk, offsets.join(QLatin1Char(',')), lines.join(QLatin1Char('\n'))})
                     .affected();
    // The owner's board shows a desk's open shift: told at once.
    c.exec("WITH d AS (INSERT INTO bilmeko.desks AS d (desk, shift_offset, shift_line) VALUES ($1, $2, $3)"
           " ON CONFLICT (desk) DO UPDATE SET shift_offset = excluded.shift_offset, shift_line = excluded.shift_line)"
           " SELECT pg_notify('bilmeko_live', $1)",
           {desk, QString::number(read.lines.last().offset), lines.last()});
    tx.commit();
    return o;
}

QList<DeskStatus> ledgerStatus(PgConnection &c)
{
    if (checkLedgerSchema(c) < 2)
        throw LedgerError(LedgerError::Schema, QStringLiteral("схема базы версии 1: выполните bilmeko-ledger init"));
    // What each desk said last, and whether it has a connection now
    // (pg_stat_activity names every session's role to every role).
    const PgResult r = c.exec(
        "SELECT d.desk, coalesce(s.records, 0), to_char(s.last_written, 'YYYY-MM-DD\"T\"HH24:MI:SS'),"
        " extract(epoch FROM d.last_seen)::bigint, d.records_written, d.records_shipped,"
        " EXISTS (SELECT FROM pg_stat_activity a WHERE a.usename = d.desk AND a.application_name = 'bilmeko'),"
        " d.program_version, d.running"
        " FROM bilmeko.desks d LEFT JOIN LATERAL (SELECT sum(sessions + reversals + uncounted)::bigint AS records,"
        "  max(y.last_written) AS last_written"
        "  FROM bilmeko.day_summary y WHERE y.desk = d.desk) s ON true ORDER BY d.desk");
    QList<DeskStatus> out;
    for (int i = 0; i < r.rows(); ++i) {
        DeskStatus s;
        s.desk = r.text(i, 0);
        s.records = r.number(i, 1);
        if (!r.isNull(i, 2))
            s.lastWritten = QDateTime::fromString(r.text(i, 2), Qt::ISODate);
        if (!r.isNull(i, 3))
            s.lastSeen = QDateTime::fromSecsSinceEpoch(r.number(i, 3));
        s.pending = r.isNull(i, 4) || r.isNull(i, 5) ? -1 : std::max<qint64>(0, r.number(i, 4) - r.number(i, 5));
        s.connected = r.text(i, 6) == QLatin1String("t");
        s.version = r.text(i, 7);
        s.running = int(r.number(i, 8));
        out.append(s);
    }
    const QHash<QString, OpenShift> open = readOpenShifts(c);
    for (DeskStatus &s : out) {
        const OpenShift shift = open.value(s.desk);
        s.openShift = shift.number;
        s.shiftOperator = shift.operatorName;
    }
    return out;
}

} // namespace bilmeko
